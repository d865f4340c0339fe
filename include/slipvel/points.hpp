// slipvel/points.hpp: the points table, a rupture's points one a row with the
// source each carries, read and written: what slipvel-rupture --points writes
// and slipvel-batch --table --srf reads.
//
//   id,lon,lat,dep,stk,dip,rake,area,tinit,dt,nt,fmax,vm,slip,tr,ts,vs,den
//
// The columns of the sources table (<slipvel/sources.hpp>) and the point's:
// lon, lat (degrees), dep (km), stk, dip, rake (degrees), area (m²), tinit
// (s), and vs (m/s) and den (kg/m³), both or neither, which SRF 2.0 needs.
// Nothing here throws anything but std::bad_alloc unless it says so.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/point.hpp>
#include <slipvel/sink.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/table.hpp>

namespace slipvel {

/// One row of a points table.
struct PointRow {
  int line = 0;           ///< its line in the table (from 1), or its row of columns
  std::string id;         ///< names the point
  srf::Point where;       ///< vs and den 0 where the row leaves them out
  Parameters parameters;  ///< its source, the row's fields over the defaults
};

/// The rows of a points table, or its problems.
struct PointsTable {
  std::vector<PointRow> points;
  std::vector<Diagnostic> problems;  ///< in line order; the table is usable only without any
  std::string name;                  ///< the table's, for messages about its rows
  bool from_columns = false;         ///< its rows are rows of columns (messages say "row N")
};

/// Reads a points table; vs and den must be columns for `version` 2.0, which
/// writes them. Every field is checked against its own rule (ranges: lon
/// −180…360, lat −90…90, dep ≥ 0, stk 0…360, dip 0…90, rake −180…360, area
/// > 0, tinit ≥ 0, vs and den > 0).
PointsTable read_points(const Table& table, const Parameters& defaults, srf::Version version);

/// The points of a table as an SRF file takes them, or the problems of its rows.
struct SrfPoints {
  std::vector<srf::PointSource> points;  ///< in row order; empty where there are problems
  std::vector<Diagnostic> problems;      ///< in line order
};

/// Makes the table's rows points of an SRF file of `version`: each distinct
/// source's onset search once (on `jobs` threads), every row checked as such
/// a point: its source as the library checks it (a row of slip 0 is a point
/// that does not slip, its other values checked as a source's), its values
/// against their fields in the file, den·vs² a finite number.
SrfPoints srf_points(const PointsTable& table, srf::Version version, int jobs);

/// The rows a writer takes, each made when asked for (several jobs may ask
/// at once): `count` of them, row n from `at(n)`.
struct PointRows {
  std::size_t count = 0;
  std::function<PointRow(std::size_t)> at;
  bool rigidity = false;  ///< with the vs and den columns (empty fields where a point has none)
};

/// Writes the points table: the header, then every row, each value in its
/// shortest round-trip text (-0 as 0), made on `jobs` threads a chunk at a
/// time. Throws what the sink throws.
void write_points(Sink& sink, const PointRows& rows, int jobs);

}  // namespace slipvel
