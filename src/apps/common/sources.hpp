// The table of sources slipvel-batch reads: a row per source, its id, any of
// its parameters and, for an SRF file, the point columns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>
#include <slipvel/table.hpp>

namespace slipvel::apps {

using table::NumberColumn;
using table::TableProblem;

// One row of the table.
struct Source {
  int line = 0;               // line number in the table, from 1
  std::string id;             // names the row's files: <id>_slip.csv, <id>_amp.csv
  Parameters parameters;      // the row's fields over the defaults
  std::vector<double> extra;  // values of the extra columns, in the order asked for
};

struct SourceTable {
  std::vector<Source> sources;
  std::vector<TableProblem> problems;  // in line order; the table is usable only without any
};

// Reads `text`. The header must name `id` and may name dt, nt, fmax, vm, slip,
// tr, ts and the `extra` columns, in any order; the required extra columns
// must be there. Empty fields take `defaults` (0 for an extra column that is
// not required). Every field is checked against its own rule; whether the
// function can carry the source is for check_sources.
SourceTable read_sources(std::string_view text, const Parameters& defaults,
                         const std::vector<NumberColumn>& extra = {});

// Whether `id` is 1 to 64 letters, digits, '_', '-' and '.', not starting with
// '.': a file name that stays inside the output folder.
bool valid_id(std::string_view id);

}  // namespace slipvel::apps
