// The table of sources: a CSV header naming the columns, then one source per row.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::batch {

// One row of the table.
struct Source {
  int line = 0;             // line number in the table, from 1
  std::string id;           // names the row's files: <id>_slip.csv, <id>_amp.csv
  Parameters parameters;    // the row's fields over the defaults
  std::vector<double> extra;  // values of the extra columns, in the order asked for
};

// Something wrong with the table: its line (0 for the table as a whole) and what.
struct Problem {
  int line;
  std::string what;
};

struct Table {
  std::vector<Source> sources;
  std::vector<Problem> problems;  // in line order; the table is usable only without any
};

// A numeric column beyond the source parameters, with its rule.
struct ExtraColumn {
  std::string name;
  std::string unit;         // for messages
  double least, most;       // accepted range; an infinite end is open
  bool least_excluded;      // true: the value must be greater than `least`
  bool required = true;     // false: accepted when present, never read
  bool whole = false;       // a whole number (a count)
};

// Reads `text`. The header must name `id` and may name dt, nt, fmax, vm, slip,
// tr, ts and the `extra` columns, in any order; the required extra columns
// must be there. Empty fields take `defaults`. Blank lines and lines starting with
// `#` are skipped. Every field is checked against its own rule; whether the
// function can carry the source is for check_sources.
Table read_table(std::string_view text, const Parameters& defaults, const std::vector<ExtraColumn>& extra = {});

// Pieces of the reading, shared with other tables of the same form.
std::string_view trim(std::string_view text);
std::vector<std::string_view> split_fields(std::string_view line);
// Reads `text` into `value` by the column's rule; the problem ("name = text:
// rule") if it does not parse or breaks the rule.
std::optional<std::string> read_field(const ExtraColumn& column, std::string_view text, double& value);
// Calls `line(number, content)` for every line that is neither blank nor a comment.
void for_each_content_line(std::string_view text, const std::function<void(int, std::string_view)>& line);

// Whether `id` is 1 to 64 letters, digits, '_', '-' and '.', not starting with
// '.': a file name that stays inside the output folder.
bool valid_id(std::string_view id);

// Reads a decimal or exponent number as the C locale writes it (no inf, nan or
// hexadecimal), or an integer.
enum class Parsed { kOk, kNotANumber, kOutOfRange };
Parsed parse_number(std::string_view text, double& value);
Parsed parse_integer(std::string_view text, int& value);

}  // namespace slipvel::batch
