// The rows of a sources table with columns of their own after the source's:
// the sources table, and the points table that adds a point to each source.
#pragma once

#include <vector>

#include <slipvel/sources.hpp>

#include "csv.hpp"

namespace slipvel::detail {

struct SourceRows {
  std::vector<SourceRow> rows;
  std::vector<std::vector<double>> extra;  ///< of each row, the `extra` columns' values in their order (0: not given)
  std::vector<Diagnostic> problems;        ///< in line order
};

// Reads a table whose header names `id` and may name dt, nt, fmax, vm, slip,
// tr, ts and the `extra` columns, in any order; the required extra columns
// must be there. Empty fields take `defaults` (0 for an extra column that is
// not required). Ids are checked against valid_id and each other.
SourceRows read_source_rows(const Table& table, const Parameters& defaults,
                            const std::vector<table::NumberColumn>& extra);

}  // namespace slipvel::detail
