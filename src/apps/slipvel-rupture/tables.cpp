#include "tables.hpp"

#include <algorithm>

#include <slipvel/text.hpp>

#include "common/parallel.hpp"

namespace slipvel::apps {

namespace {

// The rows of subfaults [first, last).
std::string point_rows(const rupture::Rupture& rupture, std::size_t first, std::size_t last, bool rigidity) {
  std::string rows;
  const auto put = [&](double value) { rows.append(text::shortest(value + 0.0)).push_back(','); };  // no "-0"
  for (std::size_t n = first; n < last; ++n) {
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
  return rows;
}

}  // namespace

void write_points(const rupture::Rupture& rupture, AtomicFile& file, int jobs) {
  const auto& segments = rupture.fault().segments;
  const bool rigidity = !rupture.fault().medium.empty() ||
                        std::any_of(segments.begin(), segments.end(), [](const auto& g) { return g.vs > 0; });
  file.write(rigidity ? "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts,vs,den\n"
                      : "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts\n");
  // Blocks of rows made on every job a round at a time and written in order:
  // the memory a round takes, not the rupture's.
  constexpr std::size_t kBlock = 1024;
  const std::size_t per_round = 4 * static_cast<std::size_t>(jobs);
  std::vector<std::string> blocks;
  for (std::size_t first = 0; first < rupture.size(); first += per_round * kBlock) {
    const std::size_t count = std::min(per_round, (rupture.size() - first + kBlock - 1) / kBlock);
    blocks.assign(count, {});
    for_each_index(count, jobs, [&](std::size_t b) {
      const std::size_t from = first + b * kBlock;
      blocks[b] = point_rows(rupture, from, std::min(rupture.size(), from + kBlock), rigidity);
    });
    const std::vector<std::string_view> pieces(blocks.begin(), blocks.end());
    file.write(pieces);
  }
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
