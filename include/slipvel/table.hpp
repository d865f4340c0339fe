// slipvel/table.hpp: the tables the programs and the rupture library read,
// and the numbers in them.
//
// A table is comma-separated text: a header naming the columns in any order,
// then one record per row. Blank lines and lines starting with '#' are
// skipped, blanks around fields allowed, a UTF-8 byte order mark ignored,
// line ends LF or CRLF. Fields are not quoted.
//
// Numbers, in tables and options alike, are decimal texts: an optional single
// sign, digits, an optional point and digits, an optional exponent ("0.8",
// "+.8", "8e-1", "008"); leading zeros are decimal; hexadecimal, "inf", "nan"
// and a doubled sign are refused. Whole numbers are a sign and digits.
//
// No function here throws anything but std::bad_alloc: problems are returned.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/slipvel.hpp>

namespace slipvel::table {

/// A problem of a table: its line (from 1; 0 for the table as a whole), the
/// column or value it is about ("" when none) and what is wrong.
struct TableProblem {
  int line = 0;
  std::string field;
  std::string text;
  friend bool operator==(const TableProblem&, const TableProblem&) = default;
};

/// Appends each of `problems` as a problem of line `line`.
void add_problems(std::vector<TableProblem>& to, int line, const std::vector<Problem>& problems);

/// Sorts problems by their line, keeping the order of those of one line.
void sort_by_line(std::vector<TableProblem>& problems);

/// What reading a number gives.
enum class Parsed { kOk, kNotANumber, kOutOfRange };

/// Reads a decimal or exponent number (see the top of this header).
Parsed parse_number(std::string_view text, double& value);

/// Reads a whole number: an optional sign and decimal digits.
Parsed parse_integer(std::string_view text, int& value);

/// Reads `text` as the value called `name`: the problem ("name = text: must
/// be a decimal or exponent number", or beyond the range of numbers) if it is
/// not one.
std::optional<Problem> read_number(std::string_view name, std::string_view text, double& value);

/// The same for a whole number.
std::optional<Problem> read_whole_number(std::string_view name, std::string_view text, int& value);

/// A numeric column and the rule its values keep.
struct NumberColumn {
  std::string name;
  std::string unit;      ///< for messages ("km", "m/s"; "" for counts)
  double least, most;    ///< accepted range; an infinite end is open
  bool least_excluded;   ///< true: the value must be greater than `least`
  bool required = true;  ///< false: the column or its field may be left out
  bool whole = false;    ///< a whole number (a count)
};

/// Reads `text` into `value` by the column's rule; the problem ("name = text:
/// rule", with the column's name as its field) if it does not parse or breaks
/// the rule.
std::optional<Problem> read_field(const NumberColumn& column, std::string_view text, double& value);

/// A column a table may have.
struct Column {
  std::string_view name;
  bool required;
};

/// One row: its line and its fields, as many as the header has.
struct Row {
  int line;
  std::vector<std::string_view> fields;
};

/// A table's header and rows, read against the columns it may have. The
/// fields are views into the text read, which must outlive them.
struct Csv {
  std::vector<std::optional<std::size_t>> position;  ///< of each column in a row, if the header names it
  std::vector<Row> rows;
  /// The header's (then no row is read) and those of rows with a wrong field count.
  std::vector<TableProblem> problems;
};

/// Reads the header, which may name each of `columns` once and must name the
/// required ones, and every row with as many fields as the header.
Csv read_csv(std::string_view text, const std::vector<Column>& columns);

/// Returns the values of a row by their columns' rules: empty where an
/// optional column is left out or its field is empty; a problem for each
/// field that breaks its rule. `columns` are the ones `csv` was read against.
std::vector<std::optional<double>> read_values(const Csv& csv, const Row& row, const std::vector<NumberColumn>& columns,
                                               std::vector<TableProblem>& problems);

/// Returns a field as a message shows it: control bytes (NUL, CR, ...)
/// escaped, so that they cannot cut or garble the message.
std::string shown(std::string_view field);

/// Returns the field in quotes as a message shows it, with a note when the
/// table quoted it (quoted fields are not read as quotes).
std::string quoted(std::string_view field);

}  // namespace slipvel::table
