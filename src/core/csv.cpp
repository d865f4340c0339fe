#include "csv.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <unordered_map>
#include <variant>

#include <slipvel/text.hpp>

namespace slipvel::table {
namespace {

Parsed parsed(std::string_view text, std::from_chars_result result) {
  if (text.empty() || result.ptr != text.data() + text.size()) return Parsed::kNotANumber;
  if (result.ec == std::errc::result_out_of_range) return Parsed::kOutOfRange;
  return result.ec == std::errc() ? Parsed::kOk : Parsed::kNotANumber;
}

// Whether the text is a number of the tables' grammar: an optional sign,
// digits, an optional point and digits, an optional exponent (whole numbers:
// sign and digits only).
bool decimal_text(std::string_view text, bool whole) {
  std::size_t at = 0;
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - start;
  };
  const auto sign = [&] {
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  };
  sign();
  std::size_t mantissa = digits();
  if (!whole && at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (!whole && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    sign();
    if (digits() == 0) return false;
  }
  return at == text.size();
}

std::string range_rule(const NumberColumn& c) {
  const std::string unit = c.unit.empty() ? "" : " " + c.unit;
  if (std::isinf(c.most)) {
    return (c.least_excluded ? "must be greater than " : "must be at least ") + text::shortest(c.least) + unit;
  }
  return "must be from " + text::shortest(c.least) + " to " + text::shortest(c.most) + unit;
}

bool in_range(const NumberColumn& c, double value) {
  const bool above = c.least_excluded ? value > c.least : value >= c.least;
  return above && value <= c.most && (!c.whole || value == std::floor(value));
}

// A field written in quotes is read as it stands, quotes and all: say so.
std::string quoting_note(std::string_view text) {
  return !text.empty() && text.front() == '"' ? " (quoted fields are not supported: write the value bare)" : "";
}

std::string unreadable(std::string_view name, std::string_view text, Parsed why, bool integer) {
  const char* rule = why == Parsed::kOutOfRange ? ": is beyond the range of numbers"
                     : integer                  ? ": must be a whole number"
                                                : ": must be a decimal or exponent number";
  return std::string(name) + " = " + shown(text) + rule + quoting_note(text);
}

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split_fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.push_back(trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return fields;
    line.remove_prefix(comma + 1);
  }
}

// Calls `line(number, content)` for every line that is neither blank nor a comment.
void for_each_content_line(std::string_view text, const std::function<void(int, std::string_view)>& line) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // spreadsheets put it before UTF-8 tables
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view content = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (!content.empty() && content.front() != '#') line(number, content);
  }
}

// What an unknown column might be: a header whose fields are separated by
// something else than commas, or a name that is not one of the table's.
std::string unknown_column_hint(std::string_view name, const std::vector<Column>& columns) {
  if (name.find(';') != std::string_view::npos) return " (fields are separated by commas, not semicolons)";
  if (name.find('\t') != std::string_view::npos) return " (fields are separated by commas, not tabs)";
  std::string names;
  for (const Column& c : columns) names.append(names.empty() ? "" : ", ").append(c.name);
  return " (the columns are " + names + ")";
}

}  // namespace

Diagnostic error(Where where, std::string field, std::string text) {
  Diagnostic d;
  d.where = std::move(where);
  d.field = std::move(field);
  d.text = std::move(text);
  return d;
}

void add_problems(std::vector<Diagnostic>& to, const Where& where, const std::vector<Problem>& problems) {
  for (const Problem& p : problems) to.push_back(error(where, p.field, p.text));
}

void sort_by_line(std::vector<Diagnostic>& diagnostics) {
  std::stable_sort(diagnostics.begin(), diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.where.line < b.where.line; });
}

std::string place(const Where& where) {
  if (where.line <= 0) return where.name;
  return where.name + (where.row ? " row " : ":") + std::to_string(where.line);
}

std::vector<Column> columns_of(const std::vector<NumberColumn>& numbers, std::size_t optional_from) {
  std::vector<Column> names;
  for (std::size_t c = 0; c < numbers.size(); ++c)
    names.push_back({numbers[c].name, numbers[c].required && c < optional_from});
  return names;
}

Where Csv::where(int line) const {
  if (!from_columns) return Where::table(name, line);
  return line <= 1 ? Where::table(name) : Where::table(name, line - 1, true);  // line 1 is the header made
}

Parsed parse_number(std::string_view text, double& value) {
  if (!decimal_text(text, false)) return Parsed::kNotANumber;
  if (text.front() == '+') text.remove_prefix(1);
  return parsed(text, std::from_chars(text.data(), text.data() + text.size(), value));
}

Parsed parse_integer(std::string_view text, int& value) {
  if (!decimal_text(text, true)) return Parsed::kNotANumber;
  if (text.front() == '+') text.remove_prefix(1);
  return parsed(text, std::from_chars(text.data(), text.data() + text.size(), value, 10));
}

std::optional<Problem> read_number(std::string_view name, std::string_view text, double& value) {
  if (const Parsed why = parse_number(text, value); why != Parsed::kOk) {
    return Problem{std::string(name), unreadable(name, text, why, false)};
  }
  return std::nullopt;
}

std::optional<Problem> read_whole_number(std::string_view name, std::string_view text, int& value) {
  if (const Parsed why = parse_integer(text, value); why != Parsed::kOk) {
    return Problem{std::string(name), unreadable(name, text, why, true)};
  }
  return std::nullopt;
}

std::optional<Problem> read_field(const NumberColumn& column, std::string_view text, double& value) {
  if (const Parsed why = parse_number(text, value); why != Parsed::kOk) {
    return Problem{column.name, unreadable(column.name, text, why, column.whole)};
  }
  if (!in_range(column, value)) {
    return Problem{column.name, column.name + " = " + shown(text) + ": " + range_rule(column) +
                                    (column.whole ? ", a whole number" : "")};
  }
  return std::nullopt;
}

namespace {

// The header and rows of a CSV text, the problems at their lines.
void read_text(Csv& table, std::string_view text, const std::vector<Column>& columns) {
  table.position.resize(columns.size());
  std::size_t width = 0;
  bool header_read = false, broken_header = false;
  const auto problem = [&](int line, std::string field, std::string why) {
    table.problems.push_back(error(table.where(line), std::move(field), std::move(why)));
  };
  for_each_content_line(text, [&](int number, std::string_view content) {
    if (broken_header) return;  // rows cannot be read against a broken header
    std::vector<std::string_view> fields = split_fields(content);
    if (header_read) {
      if (fields.size() == width) {
        table.rows.push_back({number, std::move(fields)});
      } else {
        problem(number, "", std::to_string(fields.size()) + " fields, the header has " + std::to_string(width));
      }
      return;
    }
    header_read = true;
    width = fields.size();
    std::unordered_map<std::string_view, bool> seen;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto c = std::find_if(columns.begin(), columns.end(), [&](const Column& k) { return k.name == fields[i]; });
      if (seen[fields[i]]) {
        problem(number, std::string(fields[i]), "duplicate column " + quoted(fields[i]));
      } else if (c == columns.end()) {
        problem(number, std::string(fields[i]),
                "unknown column " + quoted(fields[i]) + unknown_column_hint(fields[i], columns));
      } else {
        table.position[static_cast<std::size_t>(c - columns.begin())] = i;
      }
      seen[fields[i]] = true;
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].required && !table.position[c]) {
        problem(number, std::string(columns[c].name), "no " + std::string(columns[c].name) + " column");
      }
    }
    broken_header = !table.problems.empty();
  });
  if (!header_read)
    problem(0, "", table.from_columns ? "no columns: the table is empty" : "no header: the table is empty");
  // A table saved with CR-only line ends reads as one line holding every row.
  const std::size_t cr = text.find('\r');
  if (text.find('\n') == std::string_view::npos && cr != std::string_view::npos && !trim(text.substr(cr)).empty()) {
    table.problems = {error(table.where(1), "",
                            "the line ends are CR only (an old Mac text): save the table with LF or CRLF line ends")};
  }
}

// Whether a column's name can stand in a header as it is.
bool plain_name(const std::string& name) {
  return !name.empty() && name.front() != '#' && trim(name) == name && name.find_first_of(",\n\r") == std::string::npos;
}

// The CSV text of columns, or the problems that keep them from being a
// table: names that cannot be a header's, values that are not finite
// numbers, columns of unequal lengths.
std::string text_of(const Columns& columns, Csv& table) {
  const auto problem = [&](int row, std::string field, std::string why) {
    table.problems.push_back(error(row == 0 ? Where::table(table.name) : Where::table(table.name, row, true),
                                   std::move(field), std::move(why)));
  };
  if (columns.names.size() != columns.values.size()) {
    problem(0, "",
            std::to_string(columns.names.size()) + " names for " + std::to_string(columns.values.size()) +
                " columns of values");
    return "";
  }
  std::size_t rows = 0;
  for (std::size_t c = 0; c < columns.names.size(); ++c) {
    const std::string& name = columns.names[c];
    if (!plain_name(name)) problem(0, "", "column name " + quoted(name) + ": not a name a table's column has");
    if (c > 0 && columns.values[c].size() != rows) {
      problem(0, name,
              "columns of unequal lengths: " + shown(columns.names[0]) + " has " + std::to_string(rows) + " values, " +
                  shown(name) + " has " + std::to_string(columns.values[c].size()));
    }
    if (c == 0) rows = columns.values[c].size();
  }
  if (!table.problems.empty()) return "";
  std::string text;
  for (std::size_t c = 0; c < columns.names.size(); ++c) text.append(c == 0 ? "" : ",").append(columns.names[c]);
  text.push_back('\n');
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.names.size(); ++c) {
      if (c > 0) text.push_back(',');
      const std::optional<double>& value = columns.values[c][r];
      if (!value) continue;
      if (!std::isfinite(*value)) {
        problem(static_cast<int>(r + 1), columns.names[c],
                shown(columns.names[c]) + " = " + text::shortest(*value) + ": must be a finite number");
      }
      text.append(text::shortest(*value + 0.0));  // + 0.0: "-0" is 0
    }
    text.push_back('\n');
  }
  return text;
}

}  // namespace

Csv read_csv(const Table& table, const std::vector<Column>& columns) {
  Csv csv;
  csv.name = table.name;
  if (const auto* text = std::get_if<std::string>(&table.content)) {
    read_text(csv, *text, columns);
    return csv;
  }
  csv.from_columns = true;
  auto made = std::make_shared<std::string>(text_of(std::get<Columns>(table.content), csv));
  csv.text = made;
  if (!csv.problems.empty()) {
    csv.position.resize(columns.size());
    return csv;
  }
  read_text(csv, *csv.text, columns);
  return csv;
}

std::vector<std::optional<double>> read_values(const Csv& csv, const Row& row, const std::vector<NumberColumn>& columns,
                                               std::vector<Diagnostic>& problems) {
  std::vector<std::optional<double>> values(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (!csv.position[c]) continue;
    const std::string_view text = row.fields[*csv.position[c]];
    if (text.empty() && !columns[c].required) continue;
    double value = 0;
    if (auto problem = read_field(columns[c], text, value)) {
      problems.push_back(error(csv.where(row.line), problem->field, std::move(problem->text)));
    } else {
      values[c] = value + 0.0;  // "-0" is 0, and written as 0
    }
  }
  return values;
}

std::string shown(std::string_view field) {
  // A field of a megabyte is not read in a message: its start is enough.
  constexpr std::size_t kLongest = 80, kShownStart = 77;
  const bool cut = field.size() > kLongest;
  if (cut) field = field.substr(0, kShownStart);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\0') {
      out += "\\0";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte >= 0x7f) {  // control bytes, and bytes a terminal may take for its own
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return cut ? out + "..." : out;
}

std::string quoted(std::string_view field) {
  std::string q = "\"";
  q.append(shown(field)).push_back('"');
  return q.append(quoting_note(field));
}

}  // namespace slipvel::table
