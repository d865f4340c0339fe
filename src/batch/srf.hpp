// A whole rupture as one Standard Rupture Format (SRF) file: every point with
// its position, orientation, area, rupture time and slip-rate history.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>

#include "batch/batch.hpp"
#include "batch/table.hpp"

namespace slipvel::batch {

enum class SrfVersion { k1, k2 };

// The point columns of the table, in this order in Source::extra: lon, lat
// (degrees), dep (km), stk, dip, rake (degrees), area (m²), tinit (s), then
// vs (m/s) and den (kg/m³), which version 1.0 accepts but does not read.
std::vector<ExtraColumn> point_columns(SrfVersion version);

// One fault segment of the PLANE block.
struct Plane {
  double elon, elat;  // centre of the top edge (degrees)
  int nstk, ndip;     // points along strike and down dip
  double len, wid;    // length and width (km)
  double stk, dip;    // orientation (degrees)
  double dtop;        // depth of the top edge (km)
  double shyp, dhyp;  // hypocentre along strike from the centre and down dip (km)
};

struct PlanesTable {
  std::vector<Plane> planes;
  std::vector<Problem> problems;
};

// Reads a planes table: a header with exactly elon,elat,nstk,ndip,len,wid,stk,
// dip,dtop,shyp,dhyp in any order, then one segment per row.
PlanesTable read_planes(std::string_view text);

// The number of points the planes hold: the sum of nstk·ndip.
long long points_in(const std::vector<Plane>& planes);

// Writes `value` as printf's "%13.5e" would, 13 characters.
char* put_sample(char* out, double value);

// The point's two header lines and its slip-rate samples (cm/s), six per
// line: the velocity from time 0 through its last non-zero sample, and one
// zero after it where the record has one.
std::string srf_point_text(const Source& source, const SlipFunction& f, SrfVersion version);

// The file's lines before the points: the version and the PLANE block.
std::string srf_head_text(const std::vector<Plane>& planes, SrfVersion version);

// Writes the whole file: head, then the points in table order (one POINTS
// block, or with version 2.0 and planes one per segment). Throws WriteError.
void write_srf(const std::vector<Source>& sources, const std::vector<Plane>& planes, SrfVersion version,
               const std::filesystem::path& path, const Settings& settings);

}  // namespace slipvel::batch
