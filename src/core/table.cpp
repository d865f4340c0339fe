#include <slipvel/table.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <unordered_map>

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

void add_problems(std::vector<TableProblem>& to, int line, const std::vector<Problem>& problems) {
  for (const Problem& p : problems) to.push_back({line, p.field, p.text});
}

void sort_by_line(std::vector<TableProblem>& problems) {
  std::stable_sort(problems.begin(), problems.end(),
                   [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
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

Csv read_csv(std::string_view text, const std::vector<Column>& columns) {
  Csv table;
  table.position.resize(columns.size());
  std::size_t width = 0;
  bool header_read = false, broken_header = false;
  for_each_content_line(text, [&](int number, std::string_view content) {
    if (broken_header) return;  // rows cannot be read against a broken header
    std::vector<std::string_view> fields = split_fields(content);
    if (header_read) {
      if (fields.size() == width) {
        table.rows.push_back({number, std::move(fields)});
      } else {
        table.problems.push_back(
            {number, "", std::to_string(fields.size()) + " fields, the header has " + std::to_string(width)});
      }
      return;
    }
    header_read = true;
    width = fields.size();
    std::unordered_map<std::string_view, bool> seen;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto c = std::find_if(columns.begin(), columns.end(), [&](const Column& k) { return k.name == fields[i]; });
      if (seen[fields[i]]) {
        table.problems.push_back({number, std::string(fields[i]), "duplicate column " + quoted(fields[i])});
      } else if (c == columns.end()) {
        table.problems.push_back({number, std::string(fields[i]),
                                  "unknown column " + quoted(fields[i]) + unknown_column_hint(fields[i], columns)});
      } else {
        table.position[static_cast<std::size_t>(c - columns.begin())] = i;
      }
      seen[fields[i]] = true;
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].required && !table.position[c]) {
        table.problems.push_back(
            {number, std::string(columns[c].name), "no " + std::string(columns[c].name) + " column"});
      }
    }
    broken_header = !table.problems.empty();
  });
  if (!header_read) table.problems.push_back({0, "", "no header: the table is empty"});
  // A table saved with CR-only line ends reads as one line holding every row.
  const std::size_t cr = text.find('\r');
  if (text.find('\n') == std::string_view::npos && cr != std::string_view::npos && !trim(text.substr(cr)).empty()) {
    table.problems = {{1, "", "the line ends are CR only (an old Mac text): save the table with LF or CRLF line ends"}};
  }
  return table;
}

std::vector<std::optional<double>> read_values(const Csv& csv, const Row& row, const std::vector<NumberColumn>& columns,
                                               std::vector<TableProblem>& problems) {
  std::vector<std::optional<double>> values(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (!csv.position[c]) continue;
    const std::string_view text = row.fields[*csv.position[c]];
    if (text.empty() && !columns[c].required) continue;
    double value = 0;
    if (auto problem = read_field(columns[c], text, value)) {
      problems.push_back({row.line, problem->field, std::move(problem->text)});
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
