// The grammar of the tables every reader of the libraries shares (see
// <slipvel/table.hpp>): numbers, columns and their rules, rows, and the
// diagnostics of what breaks them.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/slipvel.hpp>
#include <slipvel/table.hpp>

namespace slipvel::table {

/// What reading a number gives.
enum class Parsed { kOk, kNotANumber, kOutOfRange };

/// Reads a decimal or exponent number.
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

/// Only the names matter to read_csv; a column of `numbers` from index
/// `optional_from` on need not be named even where its rule requires a value.
std::vector<Column> columns_of(const std::vector<NumberColumn>& numbers,
                               std::size_t optional_from = static_cast<std::size_t>(-1));

/// One row: its line (or row of columns) and its fields, as many as the header has.
struct Row {
  int line;
  std::vector<std::string_view> fields;
};

/// A table's header and rows, read against the columns it may have. The
/// fields are views into the table's text (or into `text` made from its
/// columns), which must outlive them.
struct Csv {
  std::string name;                                  ///< the table's, for messages
  bool from_columns = false;                         ///< rows count from 1; the header is the table as a whole
  std::vector<std::optional<std::size_t>> position;  ///< of each column in a row, if the header names it
  std::vector<Row> rows;
  /// The header's (then no row is read), columns that cannot be a table,
  /// and rows with a wrong field count.
  std::vector<Diagnostic> problems;
  std::shared_ptr<const std::string> text;  ///< the text made from columns

  /// Where line `line` of the table is: its row for columns, 0 the table.
  Where where(int line) const;
};

/// Reads the header, which may name each of `columns` once and must name the
/// required ones, and every row with as many fields as the header.
Csv read_csv(const Table& table, const std::vector<Column>& columns);

/// Returns the values of a row by their columns' rules: empty where an
/// optional column is left out or its field is empty; a problem for each
/// field that breaks its rule. `columns` are the ones `csv` was read against.
std::vector<std::optional<double>> read_values(const Csv& csv, const Row& row, const std::vector<NumberColumn>& columns,
                                               std::vector<Diagnostic>& problems);

/// An error at `where`.
Diagnostic error(Where where, std::string field, std::string text);

/// Appends each of `problems` as an error at `where`.
void add_problems(std::vector<Diagnostic>& to, const Where& where, const std::vector<Problem>& problems);

/// Sorts diagnostics by their line, keeping the order of those of one line.
void sort_by_line(std::vector<Diagnostic>& diagnostics);

/// How a message names a place of a table in its text: "patches.csv:2",
/// "patches row 1", "patches.csv".
std::string place(const Where& where);

/// Returns a field as a message shows it: control bytes (NUL, CR, ...)
/// escaped, so that they cannot cut or garble the message; long fields cut.
std::string shown(std::string_view field);

/// Returns the field in quotes as a message shows it, with a note when the
/// table quoted it (quoted fields are not read as quotes).
std::string quoted(std::string_view field);

}  // namespace slipvel::table
