// slipvel/srf.hpp: Standard Rupture Format (SRF) files, the ASCII layout
// finite-fault simulation codes read: the version line, the PLANE block of
// fault segments, and POINTS blocks of points, each with two header lines and
// its slip-rate samples, six per line. Written by one writer, read by one
// reader of any SRF 1.0 or 2.0 file.
//
//   slipvel::srf::write_srf(sink, {points.size(), [&](std::size_t n) { return points[n]; }}, planes, layout);
//   const slipvel::srf::File file = slipvel::srf::read_srf(text, "rupture.srf");
//
// Units as the format has them: area in cm², slip in cm, slip rate in cm/s,
// vs in cm/s, density in g/cm³, depths and lengths in km, times in s. The
// functions take and give SI values (and km, degrees) and convert.
//
// Functions that throw say so; the others throw nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/point.hpp>
#include <slipvel/sink.hpp>

namespace slipvel::srf {

/// The file's version: 1.0 (read by more codes) or 2.0 (adds vs and density).
enum class Version { k1, k2 };

/// How the points are grouped into POINTS blocks.
enum class Blocks {
  kPerPlane,  ///< one block per plane in a 2.0 file with several planes, else one block
  kOne,       ///< every point in one block, whatever the version and planes
};

/// The codes a layout can be made for.
enum class Reader {
  kGeneric,  ///< the format's own tools: every POINTS block, with or without PLANE (a block per plane in 2.0)
  kSw4,      ///< SW4: needs the PLANE block and reads the first POINTS block only: one block
  kSeisSol,  ///< SeisSol's converter: refuses a PLANE block: none, one block
};

/// The file's layout: its version, its blocks and whether it has a PLANE block.
struct Layout {
  Version version = Version::k1;
  Blocks blocks = Blocks::kPerPlane;
  bool plane_block = true;  ///< false: no PLANE block even where planes are given
  /// The code the layout was made for (layout_for); unset: chosen by hand.
  std::optional<Reader> reader = std::nullopt;
};

/// One fault segment of the PLANE block.
struct Plane {
  double elon, elat;  ///< centre of the top edge (degrees)
  int nstk, ndip;     ///< points along strike and down dip
  double len, wid;    ///< length and width (km)
  double stk, dip;    ///< orientation (degrees)
  double dtop;        ///< depth of the top edge (km)
  double shyp, dhyp;  ///< hypocentre along strike from the centre and down dip (km)
};

/// Returns the layout a code reads whole, of this version.
Layout layout_for(Reader reader, Version version);

/// Returns the warnings of what a reader will miss in a file of this layout
/// holding `points` points over `planes`: one where a layout chosen by hand
/// has several POINTS blocks ("SW4 reads only the first POINTS block: N of M
/// points; `sw4_layout` writes one block", `sw4_layout` naming how the caller
/// asks for SW4's layout). Each problem's field is "blocks". Throws
/// ParameterError, as write_srf does, for planes that do not hold the points.
std::vector<Problem> layout_warnings(const std::vector<Plane>& planes, std::size_t points, const Layout& layout,
                                     const std::string& sw4_layout);

/// Returns the warning of an SRF file of `version` 1.0, which carries no vs
/// and den, whose points' moment (N·m) came from them: a reader of the file
/// sums `moment_at_default_rigidity` instead ("SRF 1.0 carries no rigidity: a
/// reader using `rigidity_option`'s default 3.6288e10 Pa gives N times the
/// moment; write 2.0", field "version"). Nothing for 2.0, for a moment that is
/// not greater than 0, or where the two agree to three digits.
std::optional<Problem> rigidity_warning(Version version, double moment, double moment_at_default_rigidity,
                                        const std::string& rigidity_option);

/// The points of a file, each made when the writer asks for it (several jobs
/// may ask at once): `count` of them, point n from `at(n)`.
struct Points {
  std::size_t count = 0;
  std::function<PointSource(std::size_t)> at;
};

/// How a writer works: on how many threads, and whom it tells how far it got.
struct WriteOptions {
  int jobs = 1;  ///< threads that make the points' texts
  /// Told the number of points written so far, from the writer's thread; may be empty.
  std::function<void(std::size_t)> progress;
  /// Asked before each chunk of points is written; true stops the writer with Stopped.
  StopRequest stop = {};
};

/// Writes the whole file to `sink`: the version, the PLANE block (unless the
/// layout leaves it out or `planes` is empty), then each POINTS block and its
/// points in order. With Blocks::kPerPlane, a 2.0 file with a PLANE block of
/// several planes has one block of nstk·ndip points per plane, else there is
/// one block of all. Every value is written in its field's printf form, a
/// value that rounds to zero without a sign.
///
/// Throws ParameterError, before writing anything, for a plane whose value
/// does not fit its field (one problem per field, naming the value and the
/// limit) or planes that do not hold the points (field "planes"), and, having
/// written the points before it, for the first point whose value does not fit
/// its field: check the points first (slipvel-batch and the rupture library
/// do). Throws what the sink throws.
void write_srf(Sink& sink, const Points& points, const std::vector<Plane>& planes, const Layout& layout,
               const WriteOptions& options = {});

/// A point as a file holds it, in SI units.
struct FilePoint {
  Point where;                   ///< vs and den are 0 in a 1.0 file
  double dt = 0;                 ///< sample spacing (s)
  double slip[3] = {0, 0, 0};    ///< slip1, slip2, slip3 (m)
  std::vector<double> rates[3];  ///< the slip-rate samples of each, sr1, sr2, sr3 (m/s)
};

/// A whole SRF file.
struct File {
  Version version = Version::k1;
  std::vector<Plane> planes;        ///< the PLANE block's, empty without one
  std::vector<std::size_t> blocks;  ///< the number of points of each POINTS block, in order
  std::vector<FilePoint> points;    ///< every block's points, in order
};

/// Reads an SRF 1.0 or 2.0 file from any writer, as the format defines it: a
/// stream of blank-separated values however they are laid out on lines (free
/// spacing, samples wrapped at any count a line, 1.0E+00 numbers): the
/// version alone on the first line, an optional PLANE block (a count, then 11
/// values a plane), then POINTS blocks (a count, then per point 8 values in
/// 1.0 or 10 in 2.0, the 7 values rake slip1 nt1 slip2 nt2 slip3 nt3, then
/// nt1 + nt2 + nt3 samples). Blank lines and lines that start with # are
/// skipped. Throws ParameterError naming `name`, the line, the value and the
/// rule for a file that breaks the format: a value that is not a finite
/// number, a count that is not whole, lon outside −360…360, lat outside
/// −90…90, dip outside 0…90, an area not above 0, a dt not above 0 for a point
/// with samples, a 2.0 point that slips without vs and den above 0, a file
/// that ends early or holds no point.
File read_srf(std::string_view text, const std::string& name);

}  // namespace slipvel::srf
