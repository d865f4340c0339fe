// slipvel/planes.hpp: the planes table, the fault segments of an SRF file's
// PLANE block one a row, read and written.
//
//   elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp
//
// Nothing here throws anything but std::bad_alloc unless it says so.
#pragma once

#include <string>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/sink.hpp>
#include <slipvel/srf.hpp>
#include <slipvel/table.hpp>

namespace slipvel {

/// The planes of a table, or its problems.
struct PlanesTable {
  std::vector<srf::Plane> planes;
  std::vector<Diagnostic> problems;  ///< in line order; the table is usable only without any
};

/// Reads a planes table: a header with exactly the eleven columns in any
/// order, then one segment per row; each value is checked by its rule (elon
/// −180…360, elat −90…90, nstk and ndip 1…99999, len and wid > 0, stk 0…360,
/// dip 0…90, dtop ≥ 0, dhyp ≥ 0) and against the width of its field in an
/// SRF file of `version`.
PlanesTable read_planes(const Table& table, srf::Version version);

/// Returns the planes table of `planes`, every number in its shortest
/// round-trip text (-0 as 0).
std::string planes_text(const std::vector<srf::Plane>& planes);

/// Writes the same to `sink`. Throws what the sink throws.
void write_planes(Sink& sink, const std::vector<srf::Plane>& planes);

/// The number of points the planes hold: the sum of nstk·ndip.
long long points_in(const std::vector<srf::Plane>& planes);

}  // namespace slipvel
