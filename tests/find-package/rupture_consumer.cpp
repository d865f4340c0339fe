// A rupture of a user's own: one segment of 3 x 2 subfaults, built, checked
// and written as SRF.
#include <slipvel/rupture.hpp>

#include <cstdio>

int main() {
  using namespace slipvel;
  rupture::Inputs inputs(Table::text("segments.csv",
                                     "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n"
                                     "-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2,3300,2700\n"));
  const rupture::Options options(rupture::OnSegment{1, 0, 1}, rupture::UniformSpeed{2.8});
  const rupture::Built built = rupture::build(inputs, options);
  for (const Diagnostic& d : built.diagnostics) std::fprintf(stderr, "%s\n", rendered(d).c_str());
  if (!built.rupture) return 1;
  StringSink file;
  rupture::write_srf(*built.rupture, {srf::Version::k2}, file);
  std::printf("points=%zu Mw=%.4f %s\n", built.rupture->size(), moment_magnitude(built.rupture->moment().moment()),
              file.text().substr(0, 4) == "2.0\n" ? "srf" : "?");
  return 0;
}
