// The steps of build(): the fault's tables, its hypocentre, how its segments
// meet, its rupture times and the scaling to a magnitude, each giving its
// problems as diagnostics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <slipvel/rupture.hpp>

#include "front_times.hpp"

namespace slipvel::rupture::detail {

// The most subfaults a rupture may have.
inline constexpr long long kMostSubfaults = 10'000'000;

// The most nodes the grid of rupture times of a FractionOfVs may have: 9
// bytes each while it is solved.
inline constexpr std::size_t kMostFrontNodes = 250'000'000;
// The fastest a front may run as a fraction of vs: sqrt(3), the P-wave speed
// of a Poisson solid; a rupture does not outrun the P wave.
inline constexpr double kFastestFraction = 1.7320508075688772;
// The longest the front may take to cross a fault (s): its times, their sums
// in the front march and their differences stay finite.
inline constexpr double kLongestCrossing = 1e300;

// A table as messages name it, and its lines.
struct Named {
  std::string name;
  bool rows = false;  // given as columns: lines are rows
  Where at(int line = 0) const { return Where::table(name, line, rows && line > 0); }
};

// Makes and changes Rupture objects inside the library.
// A Stochastic rupture's own values: every subfault's source (an index into
// the distinct ones, each searched once) and rake.
struct Varied {
  struct Source {
    Parameters parameters;
    std::optional<Shape> shape;  // none for a subfault that does not slip
    std::size_t first;           // the first subfault that has it
  };
  std::vector<Source> sources;
  std::vector<std::uint32_t> source_of;  // of each subfault
  std::vector<double> rake;              // of each subfault (degrees)
  std::vector<float> speed;              // of each subfault: the front's local speed (km/s), for the warnings
};

struct Access {
  static Rupture make(Fault fault, const Parameters& sampling, double rigidity, bool fronts = true,
                      const StopRequest& stop = {}) {
    return Rupture(std::move(fault), sampling, rigidity, fronts, stop);
  }
  static void set_varied(Rupture& r, std::shared_ptr<const Varied> varied) { r.varied_ = std::move(varied); }
  static void set_front_times(Rupture& r, std::shared_ptr<const FrontTimes> times) {
    r.front_times_ = std::move(times);
  }
  static const Varied* varied(const Rupture& r) { return r.varied_.get(); }
  static void set_slip_factor(Rupture& r, double factor) { r.slip_factor_ = factor; }
  static void set_moment(Rupture& r, const RuptureMoment& moment, double at_default_rigidity) {
    r.moment_ = moment;
    r.moment_at_default_rigidity_ = at_default_rigidity;
  }
  static double moment_at_default_rigidity(const Rupture& r) { return r.moment_at_default_rigidity_; }
  static void set_names(Rupture& r, TableNames names) { r.names_ = std::move(names); }
  static const TableNames& names(const Rupture& r) { return r.names_; }
  static double centre_u(const Rupture& r, std::size_t k) { return r.centre_u(k); }
  // The table line of subfault n's region (the patch's or the segment's), and whether it is a patch.
  static std::pair<int, bool> region_line(const Rupture& r, std::size_t n);
  // The regions whose source the library refuses, each once with its problems.
  static std::vector<std::pair<int, bool>> refused_regions(const Rupture& r, std::vector<std::vector<Problem>>& why);
  // The patches that hold no subfault's centre (they change nothing).
  static std::vector<const Patch*> empty_patches(const Rupture& r);
  // Every region's source with its shape (none refused: build() stops on those).
  struct RegionSource {
    int line;
    bool patch;
    srf::PointSource source;  // no place
  };
  static std::vector<RegionSource> region_sources(const Rupture& r);
  static const Parameters& sampling(const Rupture& r) { return r.sampling_; }
  // Point n with its source but without its position on the Earth (lon and
  // lat 0): for the sums over the subfaults, which need no geodesic.
  static srf::PointSource unplaced_source(const Rupture& r, std::size_t n) { return r.point_source_of(n, false); }
};

// The segments of a table, or its problems. `medium` names the medium table
// when one gives vs and den by depth (the table then must not have vs or den
// columns), "" when none does; a row gives both or neither.
struct SegmentsRead {
  std::vector<Segment> segments;
  std::vector<Diagnostic> problems;  // in line order; usable only without any
  bool from_columns = false;
};
SegmentsRead read_segments(const Table& table, const std::string& medium);

// A fault given by its trace, as the segments it was cut into: at every
// vertex, and where the geodesic's direction drifts from a segment's strike.
struct TracedFault {
  int number = 0;              // its number in the tables
  int line = 0;                // its row of the faults table
  std::size_t first = 0;       // its first segment
  std::vector<double> starts;  // along the trace from its first vertex (km): each segment's start, then the end
  std::size_t segments() const { return starts.size() - 1; }
  double length() const { return starts.back(); }
};

// The traced faults, in the order of the faults table (their segments' order).
struct TraceMap {
  std::vector<TracedFault> faults;
  // The fault of this number, if any.
  const TracedFault* fault(int number) const;
  // The place s along a fault's trace (0 to its length) as a segment and s from that segment's centre.
  std::pair<std::size_t, double> on_segment(const TracedFault& f, double s) const;
  // The place s from segment k's centre as its fault and s along the fault's trace.
  std::pair<const TracedFault*, double> along_trace(std::size_t k, double s) const;
};

// The segments of a trace table (fault,lon,lat) and a faults table (one row
// a fault), or their problems; the segments' lines are their faults' rows.
struct TracedRead {
  std::vector<Segment> segments;
  TraceMap map;
  std::vector<Diagnostic> problems;  // in table order; usable only without any
  bool from_columns = false;         // of the faults table
};
TracedRead read_traced(const Traces& traces, const std::string& medium, double max_strike_drift,
                       OptionSpelling spelling);

struct MediumRead {
  Medium medium;
  std::vector<Diagnostic> problems;
};
MediumRead read_medium(const Table& table);

struct PatchesRead {
  std::vector<Patch> patches;
  std::vector<Diagnostic> problems;
  bool from_columns = false;
};
// With `traced`, the patches lie on traced faults: a fault column instead of
// segment, s along the whole trace from its first vertex; a patch across a
// vertex is a patch on every segment it crosses (all at its line).
PatchesRead read_patches(const Table& table, const std::vector<Segment>& segments, const TraceMap* traced = nullptr);

// The hypocentre on the segments, or the problem (of the option `keyword`)
// that keeps it off them. A hypocentre by position comes with the note of
// where it landed.
// With `traced`, OnSegment names a fault and s along its trace, and the note
// of a hypocentre by position says where it landed so.
std::optional<Hypocentre> place_hypocentre(const HypocentreGiven& given, const std::vector<Segment>& segments,
                                           std::optional<double> tolerance, OptionSpelling spelling,
                                           std::vector<Diagnostic>& said, const TraceMap* traced = nullptr);

// Two segments whose surfaces meet.
struct Overlap {
  std::size_t first, second;  // the segments (indexes), first < second
  // The surfaces lie over each other across an area: every subfault there
  // would be twice. Otherwise a subfault centre of one lies within half a
  // subfault of the other's surface: the segments cross or overlap.
  bool laid_over;
  std::size_t segment;  // the segment of the nearest subfault centre
  int i, j;             // that subfault
  double km;            // its distance from the other segment's surface
};

// Every pair of segments whose surfaces meet, in segment order. Segments that
// only share an edge (a bend, a straight continuation) do not meet. Each
// surface is taken in its own frame, where it is flat.
std::vector<Overlap> overlapping_segments(const std::vector<Segment>& segments);

// Segments laid over one another (refused, at the later one's line) and
// ones that cross or overlap (warned); consecutive ones apart (warned).
void check_how_segments_meet(const std::vector<Segment>& segments, const Named& table, std::vector<Diagnostic>& said);

// The problems of the rupture velocity: its value, no vs where a fraction of
// it is asked for, a speed that never arrives, a grid of rupture times too large.
void check_velocity(const Fault& fault, const Named& table, OptionSpelling spelling, std::vector<Diagnostic>& said);

// Scales every region's slip of `fault` (and vm with it where `scale_vm`,
// keeping vm·tr/slip) by one factor so that the rupture's Mw is `mw` within
// 0.001, refining the factor by the moment the functions carry; the factor,
// or nothing with the problems said.
std::optional<double> scale_to_magnitude(Fault& fault, double mw, bool scale_vm, const Parameters& sampling,
                                         double rigidity, const Named& segments, const Named& patches,
                                         OptionSpelling spelling, std::vector<Diagnostic>& said);

// Where the rupture starts for a RandomPlace: drawn from the realisation's
// hypocentre stream.
Hypocentre random_hypocentre(const std::vector<Segment>& segments, const Stochastic& stochastic);

// The problems of a Stochastic's values, each naming its option.
void check_stochastic(const Stochastic& stochastic, const RuptureVelocity& velocity, OptionSpelling spelling,
                      std::vector<Diagnostic>& said);

// Makes `rupture` (laid out with its regions' sources, no rupture times yet)
// the realisation of `stochastic` whose moment is `target` (N·m): its
// subfaults' sources, rakes and rupture times; false with the problems said
// where a subfault's source is refused.
bool vary(Rupture& rupture, const Stochastic& stochastic, double target, OptionSpelling spelling, int jobs,
          std::vector<Diagnostic>& said, const StopRequest& stop = {});

// The strips of the unfolded fault, the segments end to end.
std::vector<Strip> strips_of(const std::vector<Segment>& segments);

// The front march's grid spacings along strike and down dip (km): a quarter
// of the shortest subfault side each way, where the second-order marching
// keeps its times at the centres within 1 % plus a quarter of a subfault's
// crossing time.
std::pair<double, double> front_spacing(const std::vector<Segment>& segments);

// A place of a table's line as a where.
Where where_in(const std::string& table, int line, bool from_columns);

// An error, warning or note at `where`.
Diagnostic said_at(Where where, Severity severity, std::string field, std::string text);

}  // namespace slipvel::rupture::detail
