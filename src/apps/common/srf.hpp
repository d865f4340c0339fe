// A whole rupture as one Standard Rupture Format (SRF) file, from a points
// table and an optional planes table.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>
#include <slipvel/srf.hpp>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "common/moment.hpp"
#include "common/table.hpp"

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
  std::vector<Problem> problems;
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
// points of a table without problems, with their shapes and whole slips, go
// into `points`.
std::vector<Problem> check_rupture(const std::vector<Source>& sources, srf::Version version, int jobs,
                                   std::vector<RupturePoint>& points);

// Writes the whole file into `file`, which the caller commits: head, then the
// points in table order (one POINTS block, or with version 2.0 and planes one
// per segment). Throws WriteError.
void write_srf(const std::vector<RupturePoint>& points, const std::vector<srf::Plane>& planes, srf::Version version,
               AtomicFile& file, const Settings& settings);

}  // namespace slipvel::apps
