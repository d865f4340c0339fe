// slipvel/sources.hpp: the sources table, one source of the slip-velocity
// function a row, read and written.
//
//   id,vm,slip,tr
//   a,3,0.8,1.5
//
// The header names `id` and any of dt, nt, fmax, vm, slip, tr and ts, in any
// order; missing columns and empty fields take the defaults given. The
// grammar of tables is <slipvel/table.hpp>'s.
// Nothing here throws anything but std::bad_alloc: problems are returned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/table.hpp>

namespace slipvel {

/// One row of a sources table.
struct SourceRow {
  int line = 0;           ///< its line in the table (from 1), or its row of columns
  std::string id;         ///< names the row (and slipvel-batch's files <id>_slip.csv, <id>_amp.csv)
  Parameters parameters;  ///< the row's fields over the defaults
};

/// The rows of a sources table, or its problems.
struct SourcesTable {
  std::vector<SourceRow> sources;
  std::vector<Diagnostic> problems;  ///< in line order; the table is usable only without any
};

/// Reads a sources table. Every field is checked against its own rule (a
/// number, nt whole), ids against valid_id and each other; whether the
/// function can carry a source is for check_parameters.
SourcesTable read_sources(const Table& table, const Parameters& defaults);

/// Whether `id` is 1 to 64 letters, digits, '_', '-' and '.', not starting with
/// '.': a file name that stays inside a folder.
bool valid_id(std::string_view id);

/// Returns the table of `rows`: id,dt,nt,fmax,vm,slip,tr,ts, every number in
/// its shortest round-trip text (ts as stopping_time gives it).
std::string sources_text(const std::vector<SourceRow>& rows);

}  // namespace slipvel
