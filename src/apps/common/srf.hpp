// A whole rupture as one Standard Rupture Format (SRF) file, from a points
// table and an optional planes table.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include <slipvel/moment.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/sources.hpp"

namespace slipvel::apps {

// The point columns of the table, in this order in Source::extra: lon, lat
// (degrees), dep (km), stk, dip, rake (degrees), area (m²), tinit (s), then
// vs (m/s) and den (kg/m³), which version 1.0 takes when given (for the
// moment's rigidity) but does not write.
std::vector<NumberColumn> point_columns(srf::Version version);

// The SRF point of a row of the points table.
srf::Point point_of(const Source& source);

struct PlanesTable {
  std::vector<srf::Plane> planes;
  std::vector<TableProblem> problems;
};

// Reads a planes table: a header with exactly elon,elat,nstk,ndip,len,wid,stk,
// dip,dtop,shyp,dhyp in any order, then one segment per row; each value is
// also checked against the width of its field in the file of this version.
PlanesTable read_planes(std::string_view text, srf::Version version);

// The number of points the planes hold: the sum of nstk·ndip.
long long points_in(const std::vector<srf::Plane>& planes);

// Checks every row of a points table as a point of an SRF file: its source as
// the library checks it (a point with slip 0 is taken, every other check still
// applying), and each value against the width of its field in the file. The
// points of a table without problems, with their shapes, go into `points`.
std::vector<TableProblem> check_rupture(const std::vector<Source>& sources, srf::Version version, int jobs,
                                        std::vector<srf::PointSource>& points);

// The points of a rupture, each made when it is asked for: `count` of them,
// point n from `at(n)` (several jobs may ask at once).
struct PointSources {
  std::size_t count;
  std::function<srf::PointSource(std::size_t)> at;
};

// The points of a table, held in memory.
PointSources points_of(const std::vector<srf::PointSource>& points);

// Calls use(n, point) for every point in order; the points are made a chunk
// at a time on every job.
void for_each_point(const PointSources& points, int jobs,
                    const std::function<void(std::size_t, const srf::PointSource&)>& use);

// Writes the whole file into `file`, which the caller commits: head, then the
// points in order in the layout's blocks, made on every job. Throws WriteError.
void write_srf(const PointSources& points, const std::vector<srf::Plane>& planes, const srf::Layout& layout,
               AtomicFile& file, const Settings& settings);

// "points=N area_m2=A M0_Nm=M Mw=W duration_s=D\n", numbers in their shortest
// round-trip text, Mw "-" when M0 is 0.
std::string moment_line(const RuptureMoment& moment);

// Values that keep every rule but are likely a mistake, said once per kind
// (field): where the first one is, its text, and how many more there are.
class Implausibles {
 public:
  // `place` is where the value is ("points.csv:5"), `what` what a count of
  // places is called ("rows", "subfaults").
  explicit Implausibles(std::string what) : what_(std::move(what)) {}
  void add(const std::string& place, const slipvel::Problem& problem);
  // One line a kind, in the order the kinds were first met.
  std::vector<std::string> lines() const;

 private:
  struct Kind {
    std::string field, first;
    std::size_t more = 0;
  };
  std::string what_;
  std::vector<Kind> kinds_;
};

}  // namespace slipvel::apps
