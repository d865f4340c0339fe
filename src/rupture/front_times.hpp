// Arrival times of a rupture front that runs at a speed varying over the
// unfolded fault: the first-arrival time T with |∇T| = 1/vr, T = 0 at the
// hypocentre, over paths that stay on the fault, solved by fast marching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::rupture::detail {

// A strip of the unfolded fault: u0 ≤ u ≤ u1 along strike, 0 ≤ d ≤ width
// down dip (km). Strips are consecutive: each starts where the one before
// ends. The fault is the union of the closed strips.
struct Strip {
  double u0, u1, width;
};

// The rupture velocity (km/s, finite, > 0) at (u, d) of a strip; the strip's
// index is given so that a place on a join is taken from either side.
using Speed = std::function<double(std::size_t strip, double u, double d)>;

// First-arrival times on a grid of nodes laid over the strips. Rows lie at
// d = j·row gap in every strip, down to the strip's width (within 1e-9 of a
// row gap); a strip narrower than a row gap keeps its top row only. Along u
// each strip has its own even spacing, so each join is a grid column shared
// by the strips on either side, with the rows of the wider one. The speed is
// taken uniform over each grid cell, sampled at the cell's centre: a front
// crosses a cell at that speed and runs along an edge at the faster of the
// cells beside it, so it follows a layer boundary that lies on a row at the
// faster layer's speed, and one between rows is placed within half a row of
// where it is. Nodes within 3 spacings of the hypocentre each way, in the
// strips that hold it, start with the time along the straight line from it
// (the speed sampled 16 times along it), an upper bound the march may still
// lower where a faster layer nearby carries the front round; every node is
// marched with second-order upwind differences where two accepted nodes at
// one spacing lie upwind, first-order ones elsewhere.
//
// With spacings a quarter of the subfaults' sides, T at subfault centres is
// within 1 % plus the time to cross a quarter of the longer subfault side at
// the least speed of the exact first arrival, layer boundaries included.
//
// Memory: 8 bytes per node kept (the times), 1 more while solving (whether
// each node's time is final), plus a heap of 16 bytes per entry of the front,
// which grows with the grid's side rather than its area.
class FrontTimes {
 public:
  // Bytes per node while solving; the object keeps sizeof(double) per node.
  static constexpr std::size_t kBytesPerNode = sizeof(double) + sizeof(std::uint8_t);

  // Solves for the times from the hypocentre (u_start, d_start) (km), which
  // lies on the fault, on a grid whose spacing is at most `du` along u and at
  // most `dd` down dip (km), with at least one interval each way. Throws
  // std::invalid_argument on strips that are empty, not consecutive or not
  // finite, a hypocentre off the fault, spacings that are not positive, more
  // than 2³²−1 columns or rows, or a speed that is not finite and positive.
  //
  // `by_depth`: the speed depends on the strip and d alone, not on u (a
  // layered medium), so the march takes each row's slownesses from a table
  // made once per strip rather than asking for them at every node.
  // `stop` is asked every few thousand nodes the march settles. A speed that
  // varies along u is kept for each cell once asked for where the grid has
  // at most `most_kept_cells` cells (16 bytes a node while solving).
  FrontTimes(std::vector<Strip> strips, const Speed& speed, double u_start, double d_start, double du, double dd,
             bool by_depth = false, const StopRequest& stop = {}, std::size_t most_kept_cells = kMostKeptCells);

  // The most cells whose slowness the march keeps by default.
  static constexpr std::size_t kMostKeptCells = std::size_t{1} << 25;

  // T (s) at (u, d) (km) of strip `strip`, a place of that closed strip,
  // interpolated bilinearly between the nodes around it, with the cone of
  // times at the hypocentre kept sharp. Below a strip's deepest row the
  // times of that row hold.
  double at(std::size_t strip, double u, double d) const;

  // The number of grid nodes.
  std::size_t nodes() const { return time_.size(); }

  // The number of nodes FrontTimes(strips, ..., du, dd) lays, known before
  // solving; SIZE_MAX when the grid has more than 2³²−1 columns or rows.
  static std::size_t nodes_for(const std::vector<Strip>& strips, double du, double dd);

 private:
  // A strip's columns: `intervals` evenly spaced `gap` (km) apart from
  // column `first_column` on, and rows 0 to `last_row`.
  struct StripGrid {
    std::size_t first_column;
    std::uint32_t intervals;
    std::uint32_t last_row;
    double gap;
  };
  struct Layout {
    double row_gap;  // km
    std::vector<StripGrid> grids;
  };
  class Marcher;

  static Layout lay_out(const std::vector<Strip>& strips, double du, double dd);

  std::vector<Strip> strips_;
  Layout layout_;
  std::vector<std::size_t> column_start_;    // index of each column's top node, and the node count last
  std::vector<std::uint32_t> column_strip_;  // the strip of the interval right of each column
  std::vector<double> column_u_;             // km
  std::vector<double> time_;                 // s, column by column from the top
  double u_start_, d_start_;                 // km
  double start_slowness_;                    // s/km, at the hypocentre
};

}  // namespace slipvel::rupture::detail
