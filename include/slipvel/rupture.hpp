// slipvel/rupture.hpp: a kinematic rupture from a characterized fault.
//
// The fault is one or more rectangular segments laid end to end along
// strike, each with a background source, rectangular patches (asperities)
// with sources of their own, a hypocentre and a rupture velocity. Every
// subfault becomes a point of an SRF file: its position on the WGS84
// ellipsoid (GeographicLib's geodesics), its depth and area, the time the
// rupture front reaches it, and the slip-velocity function of its region.
//
// A place on a segment is (s, d): s along strike from the segment's centre
// (km, negative toward its start), d down dip from its top edge (km). The
// segments lie end to end, in table order, on one unfolded surface: (s, d)
// of segment k is at U = Σ_{m<k} len_m + len_k/2 + s along it and d down dip.
//
//   const auto segments = slipvel::rupture::read_segments(text, slipvel::srf::Version::k2);
//   slipvel::rupture::Fault fault{segments.segments, {}, hypocentre, 2.8};
//   const slipvel::rupture::Rupture rupture(fault, slipvel::Parameters{});
//   for (std::size_t n = 0; n < rupture.size(); ++n) use(rupture.point_source(n));
//
// Needs GeographicLib (linked through the slipvel::rupture target).
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/table.hpp>

namespace slipvel::rupture {

namespace detail {
class FrontTimes;
}

/// The source a region of the fault gives the subfaults whose centres lie in it.
struct RegionSource {
  double slip = 0;           ///< final slip (m); 0: the subfaults do not slip
  double vm = 0;             ///< peak slip velocity (m/s)
  double tr = 0;             ///< rise time (s)
  std::optional<double> ts;  ///< stopping time (s); unset: 1.5 × tr
  double rake = 0;           ///< degrees
};

/// A rectangular segment of the fault.
struct Segment {
  int line = 0;            ///< its row in the segments table (0: none)
  double elon, elat;       ///< centre of the top edge (degrees)
  double stk, dip;         ///< orientation (degrees); the fault dips to the right of strike
  double len, wid;         ///< length along strike and width down dip (km)
  double dtop;             ///< depth of the top edge (km)
  int nstk, ndip;          ///< subfaults along strike and down dip
  RegionSource source;     ///< the background
  double vs = 0, den = 0;  ///< shear-wave speed (m/s) and density (kg/m³); 0: not given
};

/// A rectangle of a segment with a source of its own.
struct Patch {
  int line = 0;           ///< its row in the patches table (0: none)
  std::size_t segment;    ///< index into the segments
  double s0, s1, d0, d1;  ///< s0 ≤ s < s1 and d0 ≤ d < d1 (km)
  RegionSource source;    ///< rake: the segment's where the table leaves it out
};

/// Where the rupture starts.
struct Hypocentre {
  std::size_t segment;  ///< index into the segments
  double s, d;          ///< km
};

/// A layer of a horizontally layered medium, from its top down to the next
/// layer's top (the last one without end).
struct Layer {
  int line = 0;  ///< its row in the medium table (0: none)
  double top;    ///< depth of its top (km)
  double vs;     ///< shear-wave speed (m/s)
  double den;    ///< density (kg/m³)
};

/// A layered medium: its layers by depth, the first at depth 0.
struct Medium {
  std::vector<Layer> layers;  ///< empty: no medium, every segment gives its own vs and den
  bool empty() const { return layers.empty(); }
  /// The layer holding `depth` (km); a depth on a boundary is in the deeper
  /// layer. The medium must not be empty.
  const Layer& at(double depth) const;
};

/// A characterized fault.
struct Fault {
  std::vector<Segment> segments;
  std::vector<Patch> patches;
  Hypocentre hypocentre{};
  double vr = 0;  ///< rupture velocity (km/s), the same everywhere; unused where vr_fraction is set
  /// The rupture velocity as a fraction of the local shear-wave speed (0 < vr_fraction ≤ 2); 0: vr everywhere.
  double vr_fraction = 0;
  /// Gives every subfault vs and den by the depth of its centre; empty: its segment's.
  Medium medium;
};

/// The medium of a table, or its problems.
struct MediumTable {
  Medium medium;
  std::vector<table::TableProblem> problems;  ///< in line order; the table is usable only without any
};

/// Reads the medium table: a header naming depth (the top of each layer, km),
/// vs (m/s) and den (kg/m³), then one layer per row, the first at depth 0 and
/// each deeper than the one before.
MediumTable read_medium(std::string_view text);

/// The most subfaults a rupture may have.
inline constexpr long long kMostSubfaults = 10'000'000;

/// The segments of a table, or its problems.
struct SegmentsTable {
  std::vector<Segment> segments;
  std::vector<table::TableProblem> problems;  ///< in line order; the table is usable only without any
};

/// Reads the segments table: a header naming the top edge, dip, wid, dtop,
/// nstk, ndip, rake, slip, vm, tr and optionally ts, vs and den, then one
/// segment per row. The top edge is either its centre and direction, elon,
/// elat, stk and len, or its trace, the ends lon1, lat1 and lon2, lat2 (the
/// fault dips to the right looking from the first end to the second): its
/// centre is then the geodesic midpoint, stk the geodesic's azimuth there (in
/// [0, 360)) and len its length. One form per table.
///
/// `medium` names the medium table when one gives vs and den by depth (the
/// table then must not have vs or den columns); "" when none does: SRF 2.0
/// then needs vs and den on every row, and otherwise a row gives both or neither.
SegmentsTable read_segments(std::string_view text, srf::Version version, const std::string& medium = "");

/// The patches of a table, or its problems.
struct PatchesTable {
  std::vector<Patch> patches;
  std::vector<table::TableProblem> problems;
};

/// Reads the patches table: a header naming segment (row number in the
/// segments table, from 1), s0, s1, d0, d1, slip and optionally vm, tr, ts and
/// rake. An empty or missing vm, tr or rake is the segment's; an empty ts is
/// 1.5 × the patch's tr. A patch must lie wholly inside its segment and overlap no other
/// patch; an overlap names both lines (`name` is how messages call the table).
PatchesTable read_patches(std::string_view text, const std::vector<Segment>& segments, const std::string& name);

/// Reads "SEG:S:D" (segment number from 1, s and d in km): a place on the
/// segment (|s| ≤ len/2, 0 ≤ d ≤ wid). Throws ParameterError (field
/// "hypocentre") naming the text and what is wrong.
Hypocentre read_hypocentre(std::string_view text, const std::vector<Segment>& segments);

/// A hypocentre given by longitude, latitude and depth, and how far the point
/// of the fault taken for it lies from there.
struct NearestHypocentre {
  Hypocentre hypocentre;
  double km;  ///< from the point given to the fault
};

/// Reads "LON:LAT:DEP" (degrees, degrees, km) and returns the point of the
/// fault nearest to it in three dimensions (each segment in its own frame,
/// where it is flat; the first segment on a tie). Throws ParameterError
/// (field "hypocentre") when the text is not three numbers or the point lies
/// farther from the fault than the diagonal of a subfault of the nearest segment.
NearestHypocentre read_hypocentre_at(std::string_view text, const std::vector<Segment>& segments);

/// Returns the problems of the sampling every subfault shares (its dt, nt and
/// fmax, as the library checks them), found once rather than for every
/// region; each problem's text names the value as "dt = ...". Whether the
/// record reaches a region's ts stays for that region.
std::vector<Problem> sampling_problems(const Parameters& sampling);

/// The problems of a rupture, by the table line of the segment or patch that
/// gave the values.
struct FaultProblems {
  std::vector<table::TableProblem> segments, patches;
  bool empty() const { return segments.empty() && patches.empty(); }
};

/// The most nodes the grid of rupture times of a vr_fraction may have: 9
/// bytes each while it is solved.
inline constexpr std::size_t kMostFrontNodes = 250'000'000;

/// The problems of rupture velocities given as a fraction of vs
/// (Fault::vr_fraction set), by the segment's line: no vs where the fault has
/// no medium, and (line 0) a grid of rupture times of more than kMostFrontNodes.
std::vector<table::TableProblem> rupture_time_problems(const Fault& fault);

/// Every region's slip scaled by one factor to reach a moment magnitude.
struct MagnitudeScaling {
  double factor = 1;       ///< the slips' factor
  double magnitude = 0;    ///< Mw of the scaled rupture
  FaultProblems problems;  ///< the regions whose scaled source is refused; usable only without any
};

/// Scales the slip of every segment and patch of `fault` by one factor, so
/// that the rupture's moment magnitude is `mw` within 0.001 (M0 =
/// 10^(1.5·mw + 9.1) N·m, with each subfault's whole slip S(ts) and rigidity
/// den·vs², or `rigidity` where it has no vs), refining the factor while the
/// magnitude misses. A region whose scaled source the library refuses is in
/// the problems, its slip the scaled one. Throws ParameterError (field "mw")
/// when no region slips or `mw` is not finite.
MagnitudeScaling scale_to_magnitude(Fault& fault, double mw, const Parameters& sampling, double rigidity);

/// Subfault (i, j) of a segment: i = 0…nstk−1 along strike, j = 0…ndip−1 down dip.
struct Subfault {
  std::size_t segment;
  int i, j;
  std::optional<std::size_t> patch;  ///< the patch its centre lies in; none: the segment's background
};

/// The subfaults of a fault as the points of one rupture, each worked out
/// when asked for (nothing is kept per subfault; with vr_fraction, the grid of
/// rupture times is, about 8 bytes per node, 16 nodes per subfault). The points go segment after
/// segment; within a segment row after row down dip, i fastest along strike.
class Rupture {
 public:
  /// Lays out `fault` (its tables already checked) with every source's dt,
  /// nt and fmax from `sampling`, and runs the onset search of each region's
  /// source once. A region whose source the library refuses is listed in
  /// region_problems(); its subfaults have no shape.
  /// With vr_fraction it solves the rupture times on their grid first (see
  /// point()): the fault must have no rupture_time_problems().
  Rupture(Fault fault, const Parameters& sampling);

  const Fault& fault() const { return fault_; }
  /// The number of subfaults.
  std::size_t size() const { return first_.back(); }

  /// Subfault n (from 0, in file order).
  Subfault subfault(std::size_t n) const;
  /// Its id, "<segment>-<i>-<j>" with the segment from 1.
  std::string id(std::size_t n) const;
  /// Its point: the position of its centre, depth dtop + d·sin(dip), area
  /// (len/nstk)·(wid/ndip), rupture time, orientation, rake and vs, den (the
  /// medium's at the depth of its centre, or its segment's). The rupture time
  /// is the distance over the unfolded fault from the hypocentre over vr, or
  /// with vr_fraction the first arrival of a front running at vr_fraction·vs
  /// over the unfolded fault: |∇T| = 1/vr(U, d), solved on a grid spaced a
  /// quarter of the shortest subfault length along strike and a quarter of
  /// the shortest subfault width down dip, and interpolated to its centre.
  srf::Point point(std::size_t n) const;
  /// Its point with its region's source and shape.
  srf::PointSource point_source(std::size_t n) const;
  /// The table line of its region (the patch's or the segment's), and whether it is a patch.
  int region_line(std::size_t n, bool& in_patch) const;

  /// U of segment k's centre on the unfolded fault (km).
  double centre_u(std::size_t k) const { return centre_u_[k]; }
  /// The PLANE block's segments, each with the rupture's hypocentre.
  const std::vector<srf::Plane>& planes() const { return planes_; }

  /// The regions whose source the library refuses, each once with its
  /// problems, and the patches that hold no subfault's centre refused as a
  /// subfault of them would be.
  FaultProblems region_problems(srf::Version version) const;
  /// The patches that hold no subfault's centre (they change nothing).
  std::vector<const Patch*> empty_patches() const;

  /// The problems of subfaults [first, last) as points of an SRF file of this
  /// version (their values against their fields), as (subfault, problem).
  std::vector<std::pair<std::size_t, Problem>> point_problems(std::size_t first, std::size_t last,
                                                              srf::Version version) const;
  /// Point problems as problems of the regions' lines: each (region, field)
  /// once, naming the first subfault it hits and how many more of the region
  /// it hits. `point_problems` in subfault order.
  FaultProblems by_region(const std::vector<std::pair<std::size_t, Problem>>& point_problems) const;

 private:
  struct Region {
    Parameters parameters;
    std::optional<Shape> shape;
    std::vector<Problem> refused;
  };
  const Region& region_of(const Subfault& f) const;
  // The patch of segment k whose region holds the place (s, d), if any.
  std::optional<std::size_t> patch_at(std::size_t k, double s, double d) const;

  Fault fault_;
  Parameters sampling_;
  std::vector<std::size_t> first_;  // of each segment's subfaults, and the count after the last
  std::vector<double> centre_u_;
  std::vector<srf::Plane> planes_;
  std::vector<std::vector<std::size_t>> patches_of_;  // each segment's patches, by index
  std::vector<Region> segment_regions_, patch_regions_;
  std::shared_ptr<const detail::FrontTimes> front_times_;  // with vr_fraction: the solved rupture times
};

/// Two segments whose surfaces meet.
struct Overlap {
  std::size_t first, second;  ///< the segments (indexes), first < second
  /// The surfaces lie over each other across an area: every subfault there
  /// would be twice. Otherwise a subfault centre of one lies within half a
  /// subfault of the other's surface: the segments cross or overlap.
  bool laid_over;
  std::size_t segment;  ///< the segment of the nearest subfault centre
  int i, j;             ///< that subfault
  double km;            ///< its distance from the other segment's surface
};

/// Returns every pair of segments whose surfaces meet, in segment order.
/// Segments that only share an edge (a bend, a straight continuation) do
/// not meet. Each surface is taken in its own frame, where it is flat.
std::vector<Overlap> overlapping_segments(const std::vector<Segment>& segments);

/// The overlaps as problems of the later segment's line: the surfaces laid
/// over each other to refuse, the ones that cross or overlap to warn about.
struct OverlapProblems {
  std::vector<table::TableProblem> refused, warned;
};
OverlapProblems overlap_problems(const std::vector<Segment>& segments);

/// A segment whose top edge starts farther than a subfault's length from
/// where the one before it ends: the rupture times still take the two as joined.
struct Gap {
  std::size_t segment;  ///< index of the later segment
  double km;            ///< between the one's end and the other's start
};
std::vector<Gap> gaps_between_segments(const std::vector<Segment>& segments);

}  // namespace slipvel::rupture
