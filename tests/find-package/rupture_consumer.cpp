// A rupture of a user's own: one segment of 3 x 2 subfaults, written as SRF.
#include <slipvel/moment.hpp>
#include <slipvel/rupture.hpp>

#include <cstdio>

int main() {
  using namespace slipvel;
  const auto table = rupture::read_segments(
      "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr,vs,den\n"
      "-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2,3300,2700\n",
      srf::Version::k2);
  if (!table.problems.empty()) return 1;
  rupture::Fault fault{table.segments, {}, rupture::read_hypocentre("1:0:1", table.segments), 2.8};
  const rupture::Rupture layout(fault, Parameters{});
  std::vector<srf::PointSource> points;
  for (std::size_t n = 0; n < layout.size(); ++n) points.push_back(layout.point_source(n));
  const double mw = moment_magnitude(seismic_moment(points, kDefaultRigidity).moment());
  const std::string file = srf::file_text(points, layout.planes(), {srf::Version::k2});
  std::printf("points=%zu Mw=%.4f %s\n", points.size(), mw,
              file.substr(0, 4).c_str() == std::string("2.0\n") ? "srf" : "?");
  return 0;
}
