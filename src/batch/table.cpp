#include "batch/table.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "library/checks.hpp"

namespace slipvel::batch {
namespace {

constexpr std::array<std::string_view, 7> kParameterColumns = {"dt", "nt", "fmax", "vm", "slip", "tr", "ts"};
constexpr std::size_t kLongestId = 64;

Parsed parsed(std::string_view text, std::from_chars_result result) {
  if (text.empty() || result.ptr != text.data() + text.size()) return Parsed::kNotANumber;
  if (result.ec == std::errc::result_out_of_range) return Parsed::kOutOfRange;
  return result.ec == std::errc() ? Parsed::kOk : Parsed::kNotANumber;
}

std::string range_rule(const ExtraColumn& c) {
  const std::string unit = c.unit.empty() ? "" : " " + c.unit;
  if (std::isinf(c.most)) {
    return (c.least_excluded ? "must be greater than " : "must be at least ") + library::shortest(c.least) + unit;
  }
  return "must be from " + library::shortest(c.least) + " to " + library::shortest(c.most) + unit;
}

bool in_range(const ExtraColumn& c, double value) {
  const bool above = c.least_excluded ? value > c.least : value >= c.least;
  return above && value <= c.most && (!c.whole || value == std::floor(value));
}

// Where each named column sits in a row: the parameters first, then the extras.
struct Layout {
  std::optional<std::size_t> id;
  std::array<std::optional<std::size_t>, kParameterColumns.size()> parameter;
  std::vector<std::optional<std::size_t>> extra;
  std::size_t width = 0;
};

Layout read_header(std::string_view line, int number, const std::vector<ExtraColumn>& extra,
                   std::vector<Problem>& problems) {
  Layout layout;
  layout.extra.resize(extra.size());
  const std::vector<std::string_view> names = split_fields(line);
  layout.width = names.size();
  std::unordered_map<std::string_view, bool> seen;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view name = names[i];
    std::string quoted = "\"";
    quoted.append(name).append("\"");
    if (seen[name]) {
      problems.push_back({number, "duplicate column " + quoted});
      continue;
    }
    seen[name] = true;
    if (name == "id") {
      layout.id = i;
    } else if (const auto p = std::find(kParameterColumns.begin(), kParameterColumns.end(), name);
               p != kParameterColumns.end()) {
      layout.parameter[static_cast<std::size_t>(p - kParameterColumns.begin())] = i;
    } else if (const auto e = std::find_if(extra.begin(), extra.end(), [&](const ExtraColumn& c) { return c.name == name; });
               e != extra.end()) {
      layout.extra[static_cast<std::size_t>(e - extra.begin())] = i;
    } else {
      problems.push_back({number, "unknown column " + quoted});
    }
  }
  if (!layout.id) problems.push_back({number, "no id column"});
  for (std::size_t e = 0; e < extra.size(); ++e) {
    if (extra[e].required && !layout.extra[e]) problems.push_back({number, "no " + extra[e].name + " column"});
  }
  return layout;
}

// Sets the parameter of column `index` from `text`.
Parsed set_parameter(Parameters& p, std::size_t index, std::string_view text) {
  if (index == 1) return parse_integer(text, p.nt);
  double value = 0;
  const Parsed result = parse_number(text, value);
  if (result != Parsed::kOk) return result;
  switch (index) {
    case 0: p.dt = value; break;
    case 2: p.fmax = value; break;
    case 3: p.vm = value; break;
    case 4: p.slip = value; break;
    case 5: p.tr = value; break;
    default: p.ts = value; break;
  }
  return result;
}

std::string unreadable(std::string_view name, std::string_view text, Parsed why, bool integer) {
  const char* rule = why == Parsed::kOutOfRange ? ": is beyond the range of numbers"
                     : integer                  ? ": must be a whole number"
                                                : ": must be a decimal or exponent number";
  return std::string(name) + " = " + std::string(text) + rule;
}

void read_row(std::string_view line, int number, const Layout& layout, const Parameters& defaults,
              const std::vector<ExtraColumn>& extra, Table& table) {
  const std::vector<std::string_view> fields = split_fields(line);
  if (fields.size() != layout.width) {
    table.problems.push_back({number, std::to_string(fields.size()) + " fields, the header has " +
                                          std::to_string(layout.width)});
    return;
  }
  const std::size_t problems_before = table.problems.size();
  Source source{number, std::string(fields[*layout.id]), defaults, std::vector<double>(extra.size())};
  if (!valid_id(source.id)) {
    table.problems.push_back({number, "id = \"" + source.id + "\": must be 1 to 64 letters, digits, _, - or ., "
                                      "not starting with ."});
  }
  for (std::size_t i = 0; i < kParameterColumns.size(); ++i) {
    if (!layout.parameter[i] || fields[*layout.parameter[i]].empty()) continue;
    const std::string_view text = fields[*layout.parameter[i]];
    if (const Parsed why = set_parameter(source.parameters, i, text); why != Parsed::kOk) {
      table.problems.push_back({number, unreadable(kParameterColumns[i], text, why, i == 1)});
    }
  }
  for (std::size_t e = 0; e < extra.size(); ++e) {
    if (!extra[e].required || !layout.extra[e]) continue;
    if (auto problem = read_field(extra[e], fields[*layout.extra[e]], source.extra[e])) {
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
      table.problems.push_back({s.line, "duplicate id \"" + s.id + "\", first on line " + std::to_string(where->second)});
    }
  }
  std::stable_sort(table.problems.begin(), table.problems.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
}

}  // namespace

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

std::optional<std::string> read_field(const ExtraColumn& column, std::string_view text, double& value) {
  if (const Parsed why = parse_number(text, value); why != Parsed::kOk) {
    return unreadable(column.name, text, why, column.whole);
  }
  if (!in_range(column, value)) {
    return column.name + " = " + std::string(text) + ": " + range_rule(column) + (column.whole ? ", a whole number" : "");
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

Parsed parse_number(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  // from_chars would also take "inf", "nan" and "infinity": decimal texts only.
  const bool decimal = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
  });
  if (!decimal) return Parsed::kNotANumber;
  return parsed(text, std::from_chars(text.data(), text.data() + text.size(), value));
}

Parsed parse_integer(std::string_view text, int& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  return parsed(text, std::from_chars(text.data(), text.data() + text.size(), value));
}

Table read_table(std::string_view text, const Parameters& defaults, const std::vector<ExtraColumn>& extra) {
  Table table;
  std::optional<Layout> layout;
  bool broken_header = false;
  for_each_content_line(text, [&](int number, std::string_view content) {
    if (broken_header) return;  // rows cannot be read against a broken header
    if (!layout) {
      layout = read_header(content, number, extra, table.problems);
      broken_header = !table.problems.empty();
    } else {
      read_row(content, number, *layout, defaults, extra, table);
    }
  });
  if (broken_header) return table;
  if (!layout) table.problems.push_back({0, "no header: the table is empty"});
  check_unique_ids(table);
  return table;
}

}  // namespace slipvel::batch
