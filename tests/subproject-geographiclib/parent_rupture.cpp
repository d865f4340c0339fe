// One subfault's rupture, from a project that brought its own GeographicLib.
#include <slipvel/rupture.hpp>

#include <cstdio>

int main() {
  using namespace slipvel;
  rupture::Inputs inputs(Table::text("segments",
                                     "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n"
                                     "-118.5,34.2,300,45,1,1,1,1,1,90,0.5,1.5,1.2\n"));
  const rupture::Built built =
      rupture::build(inputs, rupture::Options(rupture::OnSegment{1, 0, 0}, rupture::UniformSpeed{2.8}));
  if (!built.rupture) return 1;
  std::printf("%zu\n", built.rupture->size());
}
