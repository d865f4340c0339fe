// Tables: a CSV header naming the columns in any order, then one record per
// row. Blank lines and lines starting with '#' are skipped, blanks around
// fields allowed, a UTF-8 byte order mark ignored.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::apps {

// One row of the table.
struct Source {
  int line = 0;               // line number in the table, from 1
  std::string id;             // names the row's files: <id>_slip.csv, <id>_amp.csv
  Parameters parameters;      // the row's fields over the defaults
  std::vector<double> extra;  // values of the extra columns, in the order asked for
};

// Something wrong with the table: its line (0 for the table as a whole) and what.
struct TableProblem {
  int line;
  std::string what;
};

// Adds each line of `message` (the library's refusals may hold several) as a
// problem of the table's line `line`.
void add_problems(std::vector<TableProblem>& problems, int line, std::string_view message);

struct Table {
  std::vector<Source> sources;
  std::vector<TableProblem> problems;  // in line order; the table is usable only without any
};

// A numeric column with its rule.
struct NumberColumn {
  std::string name;
  std::string unit;      // for messages
  double least, most;    // accepted range; an infinite end is open
  bool least_excluded;   // true: the value must be greater than `least`
  bool required = true;  // false: the column or its field may be left out (the value is then 0)
  bool whole = false;    // a whole number (a count)
};

// A table's header and rows, read against the columns it may have.
struct CsvColumn {
  std::string_view name;
  bool required;
};
struct CsvRow {
  int line;                              // line number, from 1
  std::vector<std::string_view> fields;  // as many as the header has
};
struct CsvTable {
  std::vector<std::optional<std::size_t>> position;  // of each column in a row, if the header names it
  std::vector<CsvRow> rows;
  std::vector<TableProblem> problems;  // of the header (then no rows are read) and of rows with a wrong field count
};
// Reads the header, which may name each of `columns` once and must name the
// required ones, and every row with as many fields as the header.
CsvTable read_csv(std::string_view text, const std::vector<CsvColumn>& columns);

// Reads `text`. The header must name `id` and may name dt, nt, fmax, vm, slip,
// tr, ts and the `extra` columns, in any order; the required extra columns
// must be there. Empty fields take `defaults`. Blank lines and lines starting with
// `#` are skipped. Every field is checked against its own rule; whether the
// function can carry the source is for check_sources.
Table read_table(std::string_view text, const Parameters& defaults, const std::vector<NumberColumn>& extra = {});

// Pieces of the reading, shared with other tables of the same form.
std::string_view trim(std::string_view text);
std::vector<std::string_view> split_fields(std::string_view line);
// Reads `text` into `value` by the column's rule; the problem ("name = text:
// rule") if it does not parse or breaks the rule.
std::optional<std::string> read_field(const NumberColumn& column, std::string_view text, double& value);
// Calls `line(number, content)` for every line that is neither blank nor a comment.
void for_each_content_line(std::string_view text, const std::function<void(int, std::string_view)>& line);

// Whether `id` is 1 to 64 letters, digits, '_', '-' and '.', not starting with
// '.': a file name that stays inside the output folder.
bool valid_id(std::string_view id);

// Reads a decimal or exponent number as the C locale writes it (no inf, nan or
// hexadecimal), or an integer.
// Numbers in tables and options alike: an optional single sign, digits, an
// optional point and digits, an optional exponent (whole numbers: sign and
// digits only). Leading zeros are decimal; no hex, octal, inf or nan.
bool decimal_text(std::string_view text, bool whole);

enum class Parsed { kOk, kNotANumber, kOutOfRange };
Parsed parse_number(std::string_view text, double& value);
Parsed parse_integer(std::string_view text, int& value);

}  // namespace slipvel::apps
