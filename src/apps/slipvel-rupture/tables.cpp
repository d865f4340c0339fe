#include "tables.hpp"

#include <algorithm>

#include <slipvel/text.hpp>

#include "common/parallel.hpp"

namespace slipvel::apps {

std::string points_text(const rupture::Rupture& rupture, int jobs) {
  const auto& segments = rupture.fault().segments;
  const bool rigidity = std::any_of(segments.begin(), segments.end(), [](const auto& g) { return g.vs > 0; });
  std::string text = "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts";
  text += rigidity ? ",vs,den\n" : "\n";
  // Rows made a block at a time on every job, then joined in order.
  constexpr std::size_t kBlock = 1024;
  std::vector<std::string> blocks((rupture.size() + kBlock - 1) / kBlock);
  for_each_index(blocks.size(), jobs, [&](std::size_t b) {
    std::string& rows = blocks[b];
    const auto put = [&](double value) { rows.append(text::shortest(value + 0.0)).push_back(','); };  // no "-0"
    for (std::size_t n = b * kBlock; n < std::min(rupture.size(), (b + 1) * kBlock); ++n) {
      const srf::PointSource point = rupture.point_source(n);
      const srf::Point& x = point.where;
      const Parameters& p = point.parameters;
      rows.append(rupture.id(n)).push_back(',');
      for (const double value : {x.lon, x.lat, x.dep, x.stk, x.dip, x.rake, x.area, x.tinit, p.dt}) put(value);
      rows.append(std::to_string(p.nt)).push_back(',');
      for (const double value : {p.fmax, p.vm, p.slip, p.tr, *p.ts}) put(value);
      rows.pop_back();
      if (rigidity) {
        rows.push_back(',');
        if (x.vs > 0) rows.append(text::shortest(x.vs)).append(",").append(text::shortest(x.den));
        if (!(x.vs > 0)) rows.push_back(',');
      }
      rows.push_back('\n');
    }
  });
  for (const std::string& block : blocks) text += block;
  return text;
}

std::string planes_text(const std::vector<srf::Plane>& planes) {
  std::string text = "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n";
  for (const srf::Plane& p : planes) {
    for (const double value : {p.elon, p.elat}) text += text::shortest(value + 0.0) + ",";
    text += std::to_string(p.nstk) + "," + std::to_string(p.ndip);
    for (const double value : {p.len, p.wid, p.stk, p.dip, p.dtop, p.shyp, p.dhyp}) {
      text.push_back(',');
      text += text::shortest(value + 0.0);  // no "-0"
    }
    text += "\n";
  }
  return text;
}

}  // namespace slipvel::apps
