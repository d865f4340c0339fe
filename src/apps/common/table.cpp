#include "common/table.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>

#include <slipvel/text.hpp>

namespace slipvel::apps {
namespace {

constexpr std::array<std::string_view, 7> kParameterColumns = {"dt", "nt", "fmax", "vm", "slip", "tr", "ts"};
constexpr std::size_t kLongestId = 64;

Parsed parsed(std::string_view text, std::from_chars_result result) {
  if (text.empty() || result.ptr != text.data() + text.size()) return Parsed::kNotANumber;
  if (result.ec == std::errc::result_out_of_range) return Parsed::kOutOfRange;
  return result.ec == std::errc() ? Parsed::kOk : Parsed::kNotANumber;
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

// The columns of a source table: id, the parameters, then the extras.
std::vector<CsvColumn> source_columns(const std::vector<NumberColumn>& extra) {
  std::vector<CsvColumn> columns{{"id", true}};
  for (const std::string_view name : kParameterColumns) columns.push_back({name, false});
  for (const NumberColumn& e : extra) columns.push_back({e.name, e.required});
  return columns;
}

// A field as a message shows it: bytes that would cut or garble the message
// (NUL, CR, other control bytes) escaped.
std::string shown(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\0') {
      out += "\\0";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7f) {
      out.append("\\x").push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// A field written in quotes is read as it stands, quotes and all: say so.
std::string quoting_note(std::string_view text) {
  return !text.empty() && text.front() == '"' ? " (quoted fields are not supported: write the value bare)" : "";
}

std::string quoted(std::string_view text) {
  std::string q = "\"";
  q.append(shown(text)).push_back('"');
  return q.append(quoting_note(text));
}

// Sets the parameter of column `index` from `text`.
Parsed set_parameter(Parameters& p, std::size_t index, std::string_view text) {
  if (index == 1) return parse_integer(text, p.nt);
  double value = 0;
  const Parsed result = parse_number(text, value);
  if (result != Parsed::kOk) return result;
  switch (index) {
    case 0:
      p.dt = value;
      break;
    case 2:
      p.fmax = value;
      break;
    case 3:
      p.vm = value;
      break;
    case 4:
      p.slip = value;
      break;
    case 5:
      p.tr = value;
      break;
    default:
      p.ts = value;
      break;
  }
  return result;
}

std::string unreadable(std::string_view name, std::string_view text, Parsed why, bool integer) {
  const char* rule = why == Parsed::kOutOfRange ? ": is beyond the range of numbers"
                     : integer                  ? ": must be a whole number"
                                                : ": must be a decimal or exponent number";
  return std::string(name) + " = " + shown(text) + rule + quoting_note(text);
}

// The row's source: its id, its parameters over the defaults, its extra values.
void read_source(const CsvTable& csv, const CsvRow& row, const Parameters& defaults,
                 const std::vector<NumberColumn>& extra, Table& table) {
  const auto field = [&](std::size_t column) -> std::optional<std::string_view> {
    if (!csv.position[column]) return std::nullopt;
    return row.fields[*csv.position[column]];
  };
  const int number = row.line;
  const std::size_t problems_before = table.problems.size();
  Source source{number, std::string(*field(0)), defaults, std::vector<double>(extra.size())};
  if (!valid_id(source.id)) {
    table.problems.push_back({number, "id = " + quoted(source.id) +
                                          ": must be 1 to 64 letters, digits, _, - or ., "
                                          "not starting with ."});
  }
  for (std::size_t i = 0; i < kParameterColumns.size(); ++i) {
    const auto text = field(1 + i);
    if (!text || text->empty()) continue;
    if (const Parsed why = set_parameter(source.parameters, i, *text); why != Parsed::kOk) {
      table.problems.push_back({number, unreadable(kParameterColumns[i], *text, why, i == 1)});
    }
  }
  for (std::size_t e = 0; e < extra.size(); ++e) {
    const auto text = field(1 + kParameterColumns.size() + e);
    if (!text || (!extra[e].required && text->empty())) continue;  // an optional value not given: 0
    if (auto problem = read_field(extra[e], *text, source.extra[e])) {
      table.problems.push_back({number, std::move(*problem)});
    }
  }
  if (table.problems.size() == problems_before) table.sources.push_back(std::move(source));
}

void check_unique_ids(Table& table) {
  std::unordered_map<std::string_view, int> first_line;
  for (const Source& s : table.sources) {
    const auto [where, fresh] = first_line.emplace(s.id, s.line);
    if (!fresh) {
      table.problems.push_back(
          {s.line, "duplicate id \"" + s.id + "\", first on line " + std::to_string(where->second)});
    }
  }
  std::stable_sort(table.problems.begin(), table.problems.end(),
                   [](const TableProblem& a, const TableProblem& b) { return a.line < b.line; });
}

}  // namespace

void add_problems(std::vector<TableProblem>& problems, int line, std::string_view message) {
  while (!message.empty()) {
    const std::size_t end = message.find('\n');
    problems.push_back({line, std::string(message.substr(0, end))});
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
  }
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

std::optional<std::string> read_field(const NumberColumn& column, std::string_view text, double& value) {
  if (const Parsed why = parse_number(text, value); why != Parsed::kOk) {
    return unreadable(column.name, text, why, column.whole);
  }
  if (!in_range(column, value)) {
    return column.name + " = " + shown(text) + ": " + range_rule(column) + (column.whole ? ", a whole number" : "");
  }
  return std::nullopt;
}

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

bool valid_id(std::string_view id) {
  if (id.empty() || id.size() > kLongestId || id.front() == '.') return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  });
}

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

CsvTable read_csv(std::string_view text, const std::vector<CsvColumn>& columns) {
  CsvTable table;
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
            {number, std::to_string(fields.size()) + " fields, the header has " + std::to_string(width)});
      }
      return;
    }
    header_read = true;
    width = fields.size();
    std::unordered_map<std::string_view, bool> seen;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto c =
          std::find_if(columns.begin(), columns.end(), [&](const CsvColumn& k) { return k.name == fields[i]; });
      if (seen[fields[i]]) {
        table.problems.push_back({number, "duplicate column " + quoted(fields[i])});
      } else if (c == columns.end()) {
        table.problems.push_back({number, "unknown column " + quoted(fields[i])});
      } else {
        table.position[static_cast<std::size_t>(c - columns.begin())] = i;
      }
      seen[fields[i]] = true;
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (columns[c].required && !table.position[c]) {
        table.problems.push_back({number, "no " + std::string(columns[c].name) + " column"});
      }
    }
    broken_header = !table.problems.empty();
  });
  if (!header_read) table.problems.push_back({0, "no header: the table is empty"});
  // A table saved with CR-only line ends reads as one line holding every row.
  const std::size_t cr = text.find('\r');
  if (text.find('\n') == std::string_view::npos && cr != std::string_view::npos && !trim(text.substr(cr)).empty()) {
    table.problems = {{1, "the line ends are CR only (an old Mac text): save the table with LF or CRLF line ends"}};
  }
  return table;
}

Table read_table(std::string_view text, const Parameters& defaults, const std::vector<NumberColumn>& extra) {
  const CsvTable csv = read_csv(text, source_columns(extra));
  Table table;
  table.problems = csv.problems;
  for (const CsvRow& row : csv.rows) read_source(csv, row, defaults, extra, table);
  check_unique_ids(table);  // and puts the problems in line order
  return table;
}

}  // namespace slipvel::apps
