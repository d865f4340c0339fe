// slipvel/table.hpp: a table handed to a reader of the libraries, as the
// text of a CSV file or as columns of numbers in memory, with the name its
// messages call it by.
//
// CSV text: a header naming the columns in any order, then one record per
// row. Blank lines and lines starting with '#' are skipped, blanks around
// fields allowed, a UTF-8 byte order mark ignored, line ends LF or CRLF.
// Fields are not quoted. Numbers are decimal texts: an optional single sign,
// digits, an optional point and digits, an optional exponent ("0.8", "+.8",
// "8e-1", "008"); leading zeros are decimal; hexadecimal, "inf", "nan" and a
// doubled sign are refused. Whole numbers are a sign and digits.
//
// Columns: each column's name and its values, one per row; a value left
// empty is an empty field. A name the table does not know, values that are
// not finite numbers and columns of unequal lengths are refused; messages
// count rows from 1 ("segments row 2: ...").
//
// Nothing here throws anything but std::bad_alloc.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace slipvel {

/// Columns of numbers in memory: values[c][r] is row r of column names[c].
struct Columns {
  std::vector<std::string> names;
  std::vector<std::vector<std::optional<double>>> values;
};

/// A table and the name messages call it by: a path ("segments.csv"),
/// "<stdin>", or for columns a word ("segments").
struct Table {
  std::string name;
  std::variant<std::string, Columns> content;  ///< the CSV text, or the columns

  /// The table in the text of a CSV file.
  static Table text(std::string name, std::string text) { return {std::move(name), std::move(text)}; }
  /// The table as columns.
  static Table columns(std::string name, Columns columns) { return {std::move(name), std::move(columns)}; }
};

}  // namespace slipvel
