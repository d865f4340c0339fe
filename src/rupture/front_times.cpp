#include "front_times.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <queue>
#include <stdexcept>
#include <string>

namespace slipvel::rupture::detail {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kMostPerAxis = std::numeric_limits<std::uint32_t>::max();
// Counts of spacings within this of a whole number are taken as that number,
// so a width or length that is a multiple of the spacing is not split once more.
constexpr double kCountSlack = 1e-9;
// Nodes within this many grid spacings of the hypocentre along each axis take
// the time along the straight line from it, since marching from a point source
// loses most of its accuracy in the first few cells.
constexpr double kStartCells = 3;
// Samples of the speed along such a line: it is exact where the speed is uniform.
constexpr int kLineSamples = 16;

struct Node {
  std::uint32_t column, row;
};
// A node of the march's front with its tentative time: 16 bytes.
struct Entry {
  double time;
  Node node;
};
struct Later {
  bool operator()(const Entry& a, const Entry& b) const { return a.time > b.time; }
};

// One axis's upwind difference as weight·(T − time)²: first order from the
// nearest accepted node, second order when the next one along is accepted too.
// A weight of 0 means the axis has no accepted node upwind; `root` is the
// weight's square root.
struct Upwind {
  double weight = 0, root = 0, time = 0;
};

// The two weights of an axis of spacing `gap` and their roots, worked out
// once for the axis rather than at every update.
struct AxisWeights {
  double first, first_root, second, second_root;
  explicit AxisWeights(double gap)
      : first(1 / (gap * gap)),
        first_root(std::sqrt(first)),
        second(9 / (4 * gap * gap)),
        second_root(std::sqrt(second)) {}
};

Upwind upwind(const AxisWeights& axis, double nearest, bool has_next, double next) {
  if (has_next && next <= nearest) return {axis.second, axis.second_root, (4 * nearest - next) / 3};
  return {axis.first, axis.first_root, nearest};
}

// The least T ≥ both upwind times with Σ weight·(T − time)² = slowness²,
// or the one-axis solution when the other axis would be downwind of it.
double solve(Upwind a, Upwind b, double slowness) {
  if (a.weight == 0) std::swap(a, b);
  if (a.weight == 0) return kInfinity;
  if (b.weight != 0 && b.time < a.time) std::swap(a, b);
  const double one_axis = a.time + slowness / a.root;
  if (b.weight == 0 || one_axis <= b.time) return one_axis;
  const double lag = b.time - a.time;
  const double sum = a.weight + b.weight;
  return a.time + (b.weight * lag + std::sqrt(sum * slowness * slowness - a.weight * b.weight * lag * lag)) / sum;
}

bool finite_positive(double x) { return std::isfinite(x) && x > 0; }

void check_strips(const std::vector<Strip>& strips, double du, double dd) {
  if (strips.empty()) throw std::invalid_argument("FrontTimes: no strips");
  if (!finite_positive(du) || !finite_positive(dd)) {
    throw std::invalid_argument("FrontTimes: grid spacings must be finite and positive");
  }
  for (std::size_t k = 0; k < strips.size(); ++k) {
    const Strip& s = strips[k];
    if (!std::isfinite(s.u0) || !std::isfinite(s.u1) || !(s.u1 > s.u0) || !finite_positive(s.width)) {
      throw std::invalid_argument("FrontTimes: strip " + std::to_string(k) + " is empty or not finite");
    }
    if (k > 0 && s.u0 != strips[k - 1].u1) {
      throw std::invalid_argument("FrontTimes: strip " + std::to_string(k) +
                                  " does not start where the one before ends");
    }
  }
}

bool in_strip(const Strip& s, double u, double d) { return u >= s.u0 && u <= s.u1 && d >= 0 && d <= s.width; }

// Intervals of at most `most` (km) that cover `length`, at least one.
double intervals(double length, double most) { return std::max(1.0, std::ceil(length / most - kCountSlack)); }

}  // namespace

FrontTimes::Layout FrontTimes::lay_out(const std::vector<Strip>& strips, double du, double dd) {
  check_strips(strips, du, dd);
  double widest = 0;
  for (const Strip& s : strips) widest = std::max(widest, s.width);
  const double rows = intervals(widest, dd);
  if (rows >= kMostPerAxis) return {0, {}};
  Layout layout{widest / rows, {}};
  double columns = 0;
  for (const Strip& s : strips) {
    const double n = intervals(s.u1 - s.u0, du);
    if (columns + n >= kMostPerAxis) return {0, {}};
    const auto last_row = static_cast<std::uint32_t>(std::floor(s.width / layout.row_gap + kCountSlack));
    layout.grids.push_back(
        {static_cast<std::size_t>(columns), static_cast<std::uint32_t>(n), last_row, (s.u1 - s.u0) / n});
    columns += n;
  }
  return layout;
}

std::size_t FrontTimes::nodes_for(const std::vector<Strip>& strips, double du, double dd) {
  const Layout layout = lay_out(strips, du, dd);
  if (layout.grids.empty()) return std::numeric_limits<std::size_t>::max();
  // Each strip's columns but its last, which is the next strip's first, then the last strip's last.
  std::size_t count = layout.grids.back().last_row + std::size_t{1};
  for (std::size_t k = 0; k < strips.size(); ++k) {
    const StripGrid& g = layout.grids[k];
    const std::size_t join_rows = k == 0 ? g.last_row : std::max(g.last_row, layout.grids[k - 1].last_row);
    count += join_rows + 1 + (g.intervals - std::size_t{1}) * (g.last_row + std::size_t{1});
  }
  return count;
}

// The fast march: nodes are accepted in order of time, each one's neighbours
// updated from the accepted nodes around them.
class FrontTimes::Marcher {
 public:
  Marcher(FrontTimes& f, const Speed& speed, bool by_depth, std::size_t most_kept_cells)
      : f_(f),
        speed_(speed),
        accepted_(f.time_.size(), 0),
        rows_(by_depth ? row_slownesses() : RowSlownesses{}),
        down_dip_(f.layout_.row_gap) {
    for (const StripGrid& g : f.layout_.grids) along_strip_.emplace_back(g.gap);
    std::uint32_t deepest = 0;
    for (const StripGrid& g : f.layout_.grids) deepest = std::max(deepest, g.last_row);
    halves_ = 2 * std::size_t{deepest} + 1;
    const std::size_t cells = (f.column_u_.size() - 1) * halves_;
    if (!by_depth && cells <= most_kept_cells) cells_.assign(cells, -1);
  }

  // Puts the nodes near the hypocentre on the front with the time along the
  // straight line from it, in each strip that holds the hypocentre. They stay
  // tentative: the straight line is one path, so its time bounds the first
  // arrival from above, and where a faster layer nearby carries the front
  // round (a head wave) the march still finds the earlier time.
  void start() {
    for (std::size_t k = 0; k < f_.strips_.size(); ++k) {
      if (!in_strip(f_.strips_[k], f_.u_start_, f_.d_start_)) continue;
      const StripGrid& g = f_.layout_.grids[k];
      const double i = (f_.u_start_ - f_.strips_[k].u0) / g.gap;
      const double j = f_.d_start_ / f_.layout_.row_gap;
      const auto first_row = static_cast<std::uint32_t>(std::max(0.0, std::ceil(j - kStartCells)));
      const auto last_row = static_cast<std::uint32_t>(std::min<double>(g.last_row, std::floor(j + kStartCells)));
      const auto first = static_cast<std::size_t>(std::max(0.0, std::ceil(i - kStartCells)));
      const auto last = static_cast<std::size_t>(std::min<double>(g.intervals, std::floor(i + kStartCells)));
      for (std::size_t c = g.first_column + first; c <= g.first_column + last; ++c) {
        for (std::uint32_t row = first_row; row <= last_row; ++row) {
          const std::size_t n = f_.column_start_[c] + row;
          const double line = line_time(k, f_.column_u_[c], row * f_.layout_.row_gap);
          if (line < f_.time_[n]) {
            f_.time_[n] = line;
            front_.push({line, {static_cast<std::uint32_t>(c), row}});
          }
        }
      }
    }
  }

  void march(const StopRequest& stop) {
    constexpr std::size_t kNodesBetweenAsking = std::size_t{1} << 15;
    for (std::size_t settled = 0; !front_.empty();) {
      const Node node = front_.top().node;
      front_.pop();
      std::uint8_t& accepted = accepted_[f_.column_start_[node.column] + node.row];
      if (accepted) continue;  // pushed again since with an earlier time, and accepted then
      accepted = 1;
      update_around(node);
      if (++settled % kNodesBetweenAsking == 0 && stop && stop()) throw Stopped();
    }
  }

 private:
  std::size_t last_column() const { return f_.column_u_.size() - 1; }
  std::uint32_t rows(std::size_t c) const {
    return static_cast<std::uint32_t>(f_.column_start_[c + 1] - f_.column_start_[c]);
  }
  bool done(std::size_t c, std::uint32_t row) const { return accepted_[f_.column_start_[c] + row] != 0; }
  double time(std::size_t c, std::uint32_t row) const { return f_.time_[f_.column_start_[c] + row]; }
  // The strip of the interval from column c to its neighbour on `side` (−1 or +1).
  std::size_t strip_towards(std::size_t c, int side) const { return f_.column_strip_[side < 0 ? c - 1 : c]; }
  bool has_side(std::size_t c, int side) const { return side < 0 ? c > 0 : c < last_column(); }

  double slowness(std::size_t strip, double u, double d) const {
    const double v = speed_(strip, u, d);
    if (!finite_positive(v)) throw std::invalid_argument("FrontTimes: a speed is not finite and positive");
    return 1 / v;
  }

  // Each strip's slownesses on its rows and half-way between them: entry h
  // at d = (h/2)·row gap, the very d the march asks for (row·gap on a row,
  // (row ± 1/2)·gap at a cell's centre).
  using RowSlownesses = std::vector<std::vector<double>>;
  RowSlownesses row_slownesses() const {
    RowSlownesses rows(f_.strips_.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const std::uint32_t halves = 2 * f_.layout_.grids[k].last_row + 1;
      rows[k].resize(halves);
      for (std::uint32_t h = 0; h < halves; ++h) {
        rows[k][h] = slowness(k, f_.strips_[k].u0, (h / 2.0) * f_.layout_.row_gap);
      }
    }
    return rows;
  }

  // The slowness at half-row `half` of strip k, at u: from the table where
  // there is one.
  double slowness_at(std::size_t k, double u, std::uint32_t half) const {
    if (!rows_.empty()) return rows_[k][half];
    return slowness(k, u, (half / 2.0) * f_.layout_.row_gap);
  }

  // The time along the straight line from the hypocentre to (u, d) of strip k, which holds both.
  double line_time(std::size_t k, double u, double d) const {
    const double du = u - f_.u_start_, dd = d - f_.d_start_;
    double sum = 0;
    for (int i = 0; i < kLineSamples; ++i) {
      const double at = (i + 0.5) / kLineSamples;
      sum += slowness(k, f_.u_start_ + at * du, f_.d_start_ + at * dd);
    }
    return std::hypot(du, dd) * sum / kLineSamples;
  }

  void update_around(Node node) {
    const std::size_t c = node.column;
    const std::uint32_t row = node.row;
    if (row > 0 && !done(c, row - 1)) update(c, row - 1);
    if (row + 1 < rows(c) && !done(c, row + 1)) update(c, row + 1);
    for (const int side : {-1, 1}) {
      if (!has_side(c, side) || row > f_.layout_.grids[strip_towards(c, side)].last_row) continue;
      const std::size_t next = c + side;
      if (!done(next, row)) update(next, row);
    }
  }

  // From the neighbour on `side` (−1 above, +1 below) in column c.
  Upwind along_d(std::size_t c, std::uint32_t row, int side) const {
    const std::int64_t r1 = std::int64_t{row} + side, r2 = r1 + side;
    const auto in_column = [&](std::int64_t r) {
      return r >= 0 && r < rows(c) && done(c, static_cast<std::uint32_t>(r));
    };
    if (!in_column(r1)) return {};
    const bool has_next = in_column(r2);
    return upwind(down_dip_, time(c, static_cast<std::uint32_t>(r1)), has_next,
                  has_next ? time(c, static_cast<std::uint32_t>(r2)) : 0);
  }

  // From the neighbour on `side` (−1 or +1) along the row, when the edge to
  // it is on the fault. Second order only where the next interval has the
  // same spacing.
  Upwind along_u(std::size_t c, std::uint32_t row, int side) const {
    if (!has_side(c, side)) return {};
    const std::size_t k = strip_towards(c, side);
    const StripGrid& grid = f_.layout_.grids[k];
    const std::size_t c1 = c + side;
    if (row > grid.last_row || !done(c1, row)) return {};
    bool has_next = false;
    if (has_side(c1, side)) {
      const StripGrid& beyond = f_.layout_.grids[strip_towards(c1, side)];
      has_next = beyond.gap == grid.gap && row <= beyond.last_row && done(c1 + side, row);
    }
    return upwind(along_strip_[k], time(c1, row), has_next, has_next ? time(c1 + side, row) : 0);
  }

  // The slowness of the cell from column c to its neighbour on `side_u` and
  // from `row` to the row on `side_d`, at the cell's centre; infinite where
  // the fault has no such cell.
  double cell_slowness(std::size_t c, std::uint32_t row, int side_u, int side_d) const {
    if (!has_side(c, side_u)) return kInfinity;
    const std::size_t k = strip_towards(c, side_u);
    const std::int64_t other_row = std::int64_t{row} + side_d;
    if (other_row < 0 || other_row > f_.layout_.grids[k].last_row || row > f_.layout_.grids[k].last_row) {
      return kInfinity;
    }
    const auto half = static_cast<std::uint32_t>(2 * std::int64_t{row} + side_d);
    if (!rows_.empty()) return rows_[k][half];
    // Kept once asked for: each cell is asked for from each of its corners.
    double* const kept = cells_.empty() ? nullptr : &cells_[(side_u < 0 ? c - 1 : c) * halves_ + half];
    if (kept != nullptr && *kept >= 0) return *kept;
    const double u = (f_.column_u_[c] + f_.column_u_[c + side_u]) / 2;  // the same sum from either column
    const double s = slowness(k, u, (half / 2.0) * f_.layout_.row_gap);
    if (kept != nullptr) *kept = s;
    return s;
  }

  // Each cell's slowness is taken uniform, sampled at its centre: the march
  // crosses a cell at its own slowness, and runs along an edge at the faster
  // of the cells on either side, so that a front runs along a layer boundary
  // that lies on a row at the speed below or above it, whichever is faster.
  // A strip with a single row has no cells; its row runs at its own speed.
  void update(std::size_t c, std::uint32_t row) {
    const Upwind u_terms[2] = {along_u(c, row, -1), along_u(c, row, 1)};
    const Upwind d_terms[2] = {along_d(c, row, -1), along_d(c, row, 1)};
    double cells[2][2] = {{-1, -1}, {-1, -1}};  // -1: not sampled yet
    const auto cell = [&](int i, int j) {
      if (cells[i][j] < 0) cells[i][j] = cell_slowness(c, row, 2 * i - 1, 2 * j - 1);
      return cells[i][j];
    };
    const std::size_t n = f_.column_start_[c] + row;
    double best = f_.time_[n];
    for (int i = 0; i < 2; ++i) {
      if (u_terms[i].weight == 0) continue;
      double along = std::min(cell(i, 0), cell(i, 1));
      if (along == kInfinity) along = slowness_at(strip_towards(c, 2 * i - 1), f_.column_u_[c], 2 * row);
      best = std::min(best, solve(u_terms[i], {}, along));
    }
    for (int j = 0; j < 2; ++j) {
      if (d_terms[j].weight != 0) best = std::min(best, solve(d_terms[j], {}, std::min(cell(0, j), cell(1, j))));
    }
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) {
        if (u_terms[i].weight != 0 && d_terms[j].weight != 0 && cell(i, j) != kInfinity) {
          best = std::min(best, solve(u_terms[i], d_terms[j], cell(i, j)));
        }
      }
    }
    if (best < f_.time_[n]) {
      f_.time_[n] = best;
      front_.push({best, {static_cast<std::uint32_t>(c), row}});
    }
  }

  FrontTimes& f_;
  const Speed& speed_;
  std::vector<std::uint8_t> accepted_;  // 1 for a node whose time is final
  std::priority_queue<Entry, std::vector<Entry>, Later> front_;
  RowSlownesses rows_;  // empty: the speed varies along u too
  // With a speed that varies along u: each cell's slowness once asked for
  // (-1 before), by the interval right of its column and its half-row.
  mutable std::vector<double> cells_;
  std::size_t halves_ = 1;
  AxisWeights down_dip_;
  std::vector<AxisWeights> along_strip_;  // of each strip
};

FrontTimes::FrontTimes(std::vector<Strip> strips, const Speed& speed, double u_start, double d_start, double du,
                       double dd, bool by_depth, const StopRequest& stop, std::size_t most_kept_cells)
    : strips_(std::move(strips)), layout_(lay_out(strips_, du, dd)), u_start_(u_start), d_start_(d_start) {
  if (layout_.grids.empty()) throw std::invalid_argument("FrontTimes: more than 2^32-1 columns or rows");
  const auto holds_start = [&](const Strip& s) { return in_strip(s, u_start, d_start); };
  const auto start_strip = std::find_if(strips_.begin(), strips_.end(), holds_start);
  if (start_strip == strips_.end()) throw std::invalid_argument("FrontTimes: the hypocentre is off the fault");
  const double start_speed = speed(static_cast<std::size_t>(start_strip - strips_.begin()), u_start, d_start);
  if (!finite_positive(start_speed)) throw std::invalid_argument("FrontTimes: a speed is not finite and positive");
  start_slowness_ = 1 / start_speed;

  // Columns strip by strip; a join's column has the rows of the deeper strip.
  column_start_.push_back(0);
  for (std::size_t k = 0; k < strips_.size(); ++k) {
    const StripGrid& g = layout_.grids[k];
    for (std::uint32_t i = 0; i < g.intervals; ++i) {
      const std::uint32_t last_row = i == 0 && k > 0 ? std::max(g.last_row, layout_.grids[k - 1].last_row) : g.last_row;
      column_start_.push_back(column_start_.back() + last_row + 1);
      column_strip_.push_back(static_cast<std::uint32_t>(k));
      column_u_.push_back(strips_[k].u0 + i * g.gap);
    }
  }
  column_start_.push_back(column_start_.back() + layout_.grids.back().last_row + 1);
  column_u_.push_back(strips_.back().u1);
  time_.assign(column_start_.back(), kInfinity);

  Marcher marcher(*this, speed, by_depth, most_kept_cells);
  marcher.start();
  marcher.march(stop);
}

double FrontTimes::at(std::size_t strip, double u, double d) const {
  if (strip >= strips_.size() || !in_strip(strips_[strip], u, d)) {
    throw std::invalid_argument("FrontTimes::at: the place is not on the strip");
  }
  const StripGrid& g = layout_.grids[strip];
  const double x = (u - strips_[strip].u0) / g.gap;
  const double i = std::min(std::floor(x), g.intervals - 1.0);
  const double fx = std::min(x - i, 1.0);
  const double y = d / layout_.row_gap;
  const double j = g.last_row == 0 ? 0 : std::min(std::floor(y), g.last_row - 1.0);
  const double fy = g.last_row == 0 ? 0 : std::min(y - j, 1.0);
  const std::size_t c = g.first_column + static_cast<std::size_t>(i);
  const auto row = static_cast<std::uint32_t>(j);
  const std::uint32_t rows[2] = {row, g.last_row == 0 ? row : row + 1};
  const double weights[2][2] = {{(1 - fx) * (1 - fy), (1 - fx) * fy}, {fx * (1 - fy), fx * fy}};
  // Bilinear interpolation alone would blunt the cone of times at the
  // hypocentre by most of a cell's time. So the cone of straight-line times,
  // which is convex, is interpolated too and its error taken off, at the
  // hypocentre's slowness or at the least of the corners' mean slownesses
  // from it if less, which keeps the time positive.
  double time = 0, distance = 0, slowness = start_slowness_;
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) {
      const double corner = time_[column_start_[c + a] + rows[b]];
      const double far = std::hypot(column_u_[c + a] - u_start_, rows[b] * layout_.row_gap - d_start_);
      time += weights[a][b] * corner;
      distance += weights[a][b] * far;
      if (far > 0) slowness = std::min(slowness, corner / far);
    }
  }
  return time - slowness * (distance - std::hypot(u - u_start_, d - d_start_));
}

}  // namespace slipvel::rupture::detail
