// slipvel/rupture.hpp: a kinematic rupture from a characterized fault
// (<slipvel/fault.hpp>), built and checked in one call, and its files.
//
// Every subfault becomes a point of an SRF file: its position on the WGS84
// ellipsoid (GeographicLib's geodesics), its depth and area, the time the
// rupture front reaches it, and the slip-velocity function of its region.
//
//   slipvel::rupture::Inputs inputs{slipvel::Table::text("segments.csv", text)};
//   slipvel::rupture::Options options{slipvel::rupture::OnSegment{1, -8, 9}, slipvel::rupture::UniformSpeed{2.8}};
//   const slipvel::rupture::Built built = slipvel::rupture::build(inputs, options);
//   for (const slipvel::Diagnostic& d : built.diagnostics) report(d);   // errors, warnings, notes
//   if (built.rupture) slipvel::rupture::write_srf(*built.rupture, layout, sink);
//
// Needs GeographicLib (linked through the slipvel::rupture target).
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/fault.hpp>
#include <slipvel/moment.hpp>
#include <slipvel/point.hpp>
#include <slipvel/sink.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/table.hpp>

namespace slipvel::rupture {

namespace detail {
class FrontTimes;
class PatchIndex;
struct Access;
struct Varied;
// How messages name the tables a rupture was read from, and its options.
struct TableNames {
  std::string segments, patches;
  bool segments_rows = false, patches_rows = false;  // given as columns: messages count rows
  OptionSpelling spelling = OptionSpelling::kCommandLine;
};
}  // namespace detail

/// Faults given by their traces, instead of segments: each cut into segments
/// at every vertex and wherever its geodesic's direction drifts more than
/// Options::max_strike_drift from a segment's strike.
struct Traces {
  /// fault,lon,lat: each fault's vertices in order, in consecutive rows; the
  /// fault dips to the right looking along its trace.
  Table trace;
  /// One row per fault, the faults in order along strike:
  /// fault,dip,wid,dtop,sublen,ndip,rake,slip,vm,tr[,ts,vs,den]; sublen the
  /// subfault length along strike (km): a segment of length L has
  /// max(1, round(L/sublen)) subfaults along strike.
  Table faults;
};

/// The tables of a fault (see docs/slipvel-rupture.md for their columns).
struct Inputs {
  explicit Inputs(Table segments_table) : segments(std::move(segments_table)) {}
  explicit Inputs(Traces traced) : segments(Table::text("", "")), traces(std::move(traced)) {}
  Table segments;                ///< the segments, one row each, in order along strike (unused with traces)
  std::optional<Traces> traces;  ///< the faults by their traces, instead of segments
  /// The patches, one row each; on traced faults a `fault` column instead of
  /// `segment`, and s along the fault's whole trace from its first vertex.
  std::optional<Table> patches;
  std::optional<Table> medium;  ///< a layered medium: depth, vs, den
};

/// The hypocentre on a segment: its number from 1 and (s, d) on it (km). With
/// Inputs::traces, on a fault: its number, s along its trace from the first
/// vertex and d down dip (km).
struct OnSegment {
  int segment;
  double s, d;
};

/// The hypocentre by position: the point of the fault nearest to it, in
/// three dimensions, which must lie within Options::hypocentre_tolerance of it.
struct NearestTo {
  double lon, lat;  ///< degrees
  double dep;       ///< km
};

/// The hypocentre drawn for each realisation of a Stochastic rupture:
/// uniform along the unfolded fault within 20 % to 80 % of its length, and
/// down dip within 40 % to 90 % of the width of the segment it falls on.
struct RandomPlace {};

/// Where the rupture starts: one of the three.
using HypocentreGiven = std::variant<OnSegment, NearestTo, RandomPlace>;

/// A heterogeneous ("stochastic") rupture: slip a random field with a von
/// Kármán spectrum over the unfolded fault, rise time and rupture speed that
/// follow it, one realisation of many from a seed. Built in this order: the
/// field; slip = region slip × max(0, 1 + slip_cv·g) × the taper, divided by
/// its mean over each region (segment or patch), so each region keeps its
/// table's mean slip; one factor for the target moment; rise time c·√slip
/// (c giving the moment-weighted mean rise_time); the shallow rule; ts and vm
/// keeping each region's ts/tr and vm·tr/slip; the floor; the rupture speed
/// and front times; each subfault's onset search; the factor refined for the
/// slip the functions carry.
struct Stochastic {
  std::uint64_t seed = 1;         ///< 0 to 2⁶³−1
  std::uint64_t realisation = 0;  ///< 0 to 2³¹−1: the realisation's own streams of random numbers
  /// Correlation lengths along strike and down dip (km); unset: from Mw,
  /// log10 ax = 0.5·Mw − 2.5, log10 az = 0.33·Mw − 1.5 (Mai & Beroza 2002).
  std::optional<std::pair<double, double>> correlation;
  double hurst = 0.75;    ///< H of the von Kármán spectrum, 0 < H ≤ 1 (1: the k⁻² model)
  double slip_cv = 0.85;  ///< σ of the Gaussian factor 1 + σ·g (≥ 0); clipping at 0 makes the slip's CV lower
  /// Hann taper widths at the unfolded fault's ends and bottom (and its top
  /// where that lies below the surface), as fractions of its length and of
  /// each segment's width, each from 0 to 0.5.
  double taper_along = 0.2, taper_down = 0.2;
  /// Above this depth (km) the rupture speed is multiplied by shallow_vr and the
  /// rise time by shallow_tr (then the mean rise time is kept); 0: none.
  double shallow_depth = 5, shallow_vr = 0.7, shallow_tr = 2;
  /// The moment-weighted mean rise time (s); unset: 2.03·10⁻⁹·M0^(1/3), M0 in dyne·cm.
  std::optional<double> rise_time;
  /// How much the rupture speed of a fraction of vs follows the slip:
  /// F·vs·(1 + vr_slip·clamp((s/s̄ − 1)/slip_cv, −1, 1)); 0: not at all.
  double vr_slip = 0.2;
  /// A subfault with less than this fraction of the mean slip does not slip.
  double slip_floor = 0.05;
  double rake_sigma = 0;  ///< degrees of rake scatter, a second field of the same spectrum; 0: none
};

/// A realisation of the field slip heterogeneity comes from, at its nodes.
struct SlipField {
  std::size_t nu, nd;          ///< nodes along strike and down dip
  double du, dd;               ///< their spacing (km)
  std::vector<double> values;  ///< node (i, j), at (du/2 + i·du, dd/2 + j·dd) km, at j·nu + i
};

/// Returns realisation `realisation` of the zero-mean Gaussian random field
/// of unit theoretical variance a Stochastic rupture of this seed draws its
/// slip from, over a fault `length` by `width` km whose subfaults are du by dd
/// km (nodes on their centres): von Kármán spectrum of correlation lengths ax
/// along strike and az down dip (km) and Hurst exponent `hurst`, white noise
/// filtered in the wavenumber domain on a grid padded against the periodic
/// wrap. Throws ParameterError naming the value and the rule.
SlipField slip_field(double length, double width, double du, double dd, double ax, double az, double hurst,
                     std::uint64_t seed, std::uint64_t realisation);

/// What a target magnitude scales.
enum class MagnitudeScales {
  kSlipAndVm,  ///< every region's slip and vm by one factor: vm·tr/slip kept, the function self-similar
  kSlip,       ///< the slips alone, vm as the tables give it (a large factor leaves what the function carries)
};

/// How a rupture is built from its tables.
struct Options {
  Options(HypocentreGiven start, RuptureVelocity speed) : hypocentre(start), velocity(speed) {}
  HypocentreGiven hypocentre;
  RuptureVelocity velocity;
  /// A moment magnitude to reach, from −2 to 10: every region's slip (and
  /// vm, see mw_scales) scaled by one factor so that Mw is within 0.001 of it.
  std::optional<double> mw;
  MagnitudeScales mw_scales = MagnitudeScales::kSlipAndVm;
  /// With Inputs::traces: the most a segment's strike may differ from the
  /// direction of its trace's geodesic anywhere along it (degrees, greater
  /// than 0 and at most 45).
  double max_strike_drift = 0.5;
  /// How far (km, ≥ 0) a hypocentre by position may lie from the fault;
  /// unset: the larger of one subfault's diagonal and 5 km.
  std::optional<double> hypocentre_tolerance;
  /// Every subfault's dt (s), nt and fmax (Hz); the other fields are unused.
  Parameters sampling;
  /// μ (Pa) for the moment of segments without vs and den.
  double rigidity = kDefaultRigidity;
  /// How the texts name the options: "--vr" for a program, "vr" for Python.
  OptionSpelling spelling = OptionSpelling::kCommandLine;
  /// Threads that lay out the subfaults and sum the moment.
  int jobs = 1;
  /// Heterogeneous slip and one realisation of it; unset: every region slips uniformly.
  std::optional<Stochastic> stochastic;
  /// Asked between pieces of the work (chunks of subfaults, stretches of the
  /// front march); true stops build() with Stopped.
  StopRequest stop;
};

/// Subfault (i, j) of a segment: i = 0…nstk−1 along strike, j = 0…ndip−1 down dip.
struct Subfault {
  std::size_t segment;
  int i, j;
  std::optional<std::size_t> patch;  ///< the patch its centre lies in; none: the segment's background
};

/// Where the rupture starts, on the fault and on the Earth.
struct Start {
  std::size_t segment;  ///< index into the segments
  double s, d;          ///< on it (km)
  double lon, lat;      ///< degrees
  double dep;           ///< km
};

/// A rupture, built by build(): the subfaults of a checked fault as the
/// points of one rupture, each worked out when asked for (nothing is kept per
/// subfault; with a FractionOfVs velocity, the grid of rupture times is,
/// about 8 bytes per node, 16 nodes per subfault). The points go segment after
/// segment; within a segment row after row down dip, i fastest along strike.
class Rupture {
 public:
  /// The fault, its slips scaled where a magnitude was asked for.
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
  /// is the distance over the unfolded fault from the hypocentre over the
  /// uniform speed, or with a FractionOfVs the first arrival of a front
  /// running at that fraction of vs over the unfolded fault: |∇T| = 1/vr(U,
  /// d), solved on a grid spaced a quarter of the shortest subfault length
  /// along strike and a quarter of the shortest subfault width down dip, and
  /// interpolated to its centre.
  srf::Point point(std::size_t n) const;
  /// Its point with its region's source and shape.
  srf::PointSource point_source(std::size_t n) const;

  /// The PLANE block's segments, each with the rupture's hypocentre.
  const std::vector<srf::Plane>& planes() const { return planes_; }
  /// Where the rupture starts.
  const Start& hypocentre() const { return start_; }
  /// The rupture's moment: Σ μ·area·S(ts) over the subfaults, μ = den·vs²
  /// where given, else rigidity().
  const RuptureMoment& moment() const { return moment_; }
  /// μ (Pa) of the subfaults without vs and den.
  double rigidity() const { return rigidity_; }
  /// The factor every region's slip was scaled by to reach a magnitude (1 without).
  double slip_factor() const { return slip_factor_; }
  /// Whether any subfault has vs and den (the points table then has their columns).
  bool has_medium_values() const;

  /// What a Stochastic rupture realised, over its subfaults.
  struct Realised {
    double mean_slip = 0;       ///< Σ area·slip / Σ area (m)
    double peak_slip = 0;       ///< m
    double mean_rise_time = 0;  ///< moment-weighted (μ·area·slip) mean rise time (s)
  };
  /// The same for any rupture (each region's source is its subfaults').
  Realised realised() const;

 private:
  friend struct detail::Access;
  // `fronts`: solve the rupture times of a FractionOfVs now (a Stochastic
  // rupture solves its own).
  Rupture(Fault fault, const Parameters& sampling, double rigidity, bool fronts = true, const StopRequest& stop = {});

  struct Region {
    Parameters parameters;
    std::optional<Shape> shape;
    std::vector<Problem> refused;
  };
  const Region& region_of(const Subfault& f) const;
  // Point n as point() gives it, with its position on the Earth (a geodesic)
  // where `placed`, else lon and lat 0: what the moment's sums need.
  srf::Point point_of(std::size_t n, bool placed) const;
  srf::PointSource point_source_of(std::size_t n, bool placed) const;
  // The patch of segment k whose region holds the place (s, d), if any.
  std::optional<std::size_t> patch_at(std::size_t k, double s, double d) const;
  double centre_u(std::size_t k) const { return centre_u_[k]; }

  Fault fault_;
  Parameters sampling_;
  double rigidity_;
  double slip_factor_ = 1;
  std::vector<std::size_t> first_;  // of each segment's subfaults, and the count after the last
  std::vector<double> centre_u_;    // U of each segment's centre on the unfolded fault (km)
  std::vector<srf::Plane> planes_;
  std::vector<std::vector<std::size_t>> patches_of_;  // each segment's patches, by index
  // each segment's patches by place, indexes into patches_of_
  std::shared_ptr<const std::vector<detail::PatchIndex>> patch_index_;
  std::vector<Region> segment_regions_, patch_regions_;
  std::shared_ptr<const detail::FrontTimes> front_times_;  // with a FractionOfVs: the solved rupture times
  std::shared_ptr<const detail::Varied> varied_;           // a Stochastic rupture's sources and rakes
  Start start_{};
  RuptureMoment moment_;
  double moment_at_default_rigidity_ = 0;  // Σ kDefaultRigidity·area·S(ts): what a reader of SRF 1.0 sums
  detail::TableNames names_;
};

/// A rupture and what was found on the way.
struct Built {
  std::shared_ptr<const Rupture> rupture;  ///< empty where anything is refused
  /// The errors where anything is refused (every one found), else the
  /// warnings (values likely a mistake, segments that cross or leave a gap,
  /// patches that change nothing) and notes (where a hypocentre by position
  /// landed, the factor of a magnitude), in the order found.
  std::vector<Diagnostic> diagnostics;
};

/// Reads and checks the tables and options, and lays out the rupture: every
/// field of every table by its rule, the medium, the patches against their
/// segments and each other, segments laid over one another, the hypocentre,
/// the rupture velocity, the sampling (dt, nt, fmax), the scaling to a
/// magnitude, every region's source (the onset search once per region), the
/// rupture times and the moment. What depends on how the rupture is written
/// (an SRF version's fields, a moment-rate file's length) is the writers'.
Built build(const Inputs& inputs, const Options& options);

/// Reads "SEG:S:D" (segment number from 1, s and d in km), the text of the
/// option `keyword` ("hypocentre"); an error naming it where it is not three
/// such numbers. Whether the place is on the fault is build()'s.
std::variant<OnSegment, Diagnostic> parse_on_segment(std::string_view text, const std::string& keyword,
                                                     OptionSpelling spelling);

/// Reads "LON:LAT:DEP" (degrees, degrees, km), the same way.
std::variant<NearestTo, Diagnostic> parse_position(std::string_view text, const std::string& keyword,
                                                   OptionSpelling spelling);

/// The problems of writing the rupture as an SRF file of this layout, by the
/// table line of the segment or patch that gave the values: SRF 2.0 needs vs
/// and den everywhere; every value must fit its field (a subfault's value
/// that does not names the first subfault it hits and how many more of its
/// region it hits). Checked on `jobs` threads. And, as warnings, what a reader
/// will get wrong: POINTS blocks SW4 does not read (a layout not made for a
/// code), a 1.0 file of a rupture with vs and den read at a default rigidity.
std::vector<Diagnostic> srf_problems(const Rupture& rupture, const srf::Layout& layout, int jobs = 1);

/// The problems of srf_problems that follow from the fault and the layout
/// alone (vs and den, each region's slip1 and nt1, the PLANE block) and its
/// warnings: all of srf_problems but each subfault's values against their
/// fields, which writing the file checks as it goes.
std::vector<Diagnostic> srf_fault_problems(const Rupture& rupture, const srf::Layout& layout);

/// Writes the rupture as an SRF file (see srf::write_srf), each subfault's
/// values checked against their fields as its text is made. Throws
/// ParameterError with the errors of srf_problems where there are any:
/// before writing anything for those of srf_fault_problems, else on reaching
/// the first subfault whose value does not fit, when the sink has taken the
/// points before it (a staged file is then discarded by its owner).
void write_srf(const Rupture& rupture, const srf::Layout& layout, Sink& sink, const srf::WriteOptions& options = {});

/// Writes the points table (<slipvel/points.hpp>), which slipvel-batch reads
/// back into the same SRF bytes: ids, positions, sources, and vs and den
/// where has_medium_values().
void write_points(const Rupture& rupture, Sink& sink, int jobs = 1);

/// Writes the planes table (<slipvel/planes.hpp>) of the rupture's planes.
void write_planes(const Rupture& rupture, Sink& sink);

/// The errors among diagnostics.
std::vector<Diagnostic> errors_of(std::vector<Diagnostic> diagnostics);

/// The problem of writing the moment-rate file at the subfaults' dt: more
/// than MomentRate::kMostRows rows; empty where there is none.
std::vector<Diagnostic> moment_rate_problems(const Rupture& rupture);

/// Writes the moment-rate file (<slipvel/moment_rate.hpp>) at the subfaults'
/// dt, summed on `jobs` threads in file order. Throws ParameterError with
/// moment_rate_problems, before writing anything, where there are any.
void write_moment_rate(const Rupture& rupture, Sink& sink, int jobs = 1);

}  // namespace slipvel::rupture
