#include "common/sources.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

namespace slipvel::apps {
namespace {

using table::Column;

constexpr std::array<std::string_view, 7> kParameterColumns = {"dt", "nt", "fmax", "vm", "slip", "tr", "ts"};
constexpr std::size_t kLongestId = 64;

// The columns of a source table: id, the parameters, then the extras.
std::vector<Column> source_columns(const std::vector<NumberColumn>& extra) {
  std::vector<Column> columns{{"id", true}};
  for (const std::string_view name : kParameterColumns) columns.push_back({name, false});
  for (const NumberColumn& e : extra) columns.push_back({e.name, e.required});
  return columns;
}

// Sets the parameter of column `index` from `text`; the problem if it is not a number.
std::optional<slipvel::Problem> set_parameter(Parameters& p, std::size_t index, std::string_view text) {
  const std::string_view name = kParameterColumns[index];
  if (index == 1) return table::read_whole_number(name, text, p.nt);
  double value = 0;
  if (auto problem = table::read_number(name, text, value)) return problem;
  double* const fields[] = {&p.dt, nullptr, &p.fmax, &p.vm, &p.slip, &p.tr};
  if (index < std::size(fields)) {
    *fields[index] = value;
  } else {
    p.ts = value;
  }
  return std::nullopt;
}

// The row's source: its id, its parameters over the defaults, its extra values.
void read_source(const table::Csv& csv, const table::Row& row, const Parameters& defaults,
                 const std::vector<NumberColumn>& extra, SourceTable& table) {
  const auto field = [&](std::size_t column) -> std::optional<std::string_view> {
    if (!csv.position[column]) return std::nullopt;
    return row.fields[*csv.position[column]];
  };
  const int number = row.line;
  const std::size_t problems_before = table.problems.size();
  Source source{number, std::string(*field(0)), defaults, std::vector<double>(extra.size())};
  if (!valid_id(source.id)) {
    table.problems.push_back(
        {number, "id",
         "id = " + table::quoted(source.id) + ": must be 1 to 64 letters, digits, _, - or ., not starting with ."});
  }
  for (std::size_t i = 0; i < kParameterColumns.size(); ++i) {
    const auto text = field(1 + i);
    if (!text || text->empty()) continue;
    if (auto problem = set_parameter(source.parameters, i, *text)) {
      table.problems.push_back({number, problem->field, std::move(problem->text)});
    }
  }
  for (std::size_t e = 0; e < extra.size(); ++e) {
    const auto text = field(1 + kParameterColumns.size() + e);
    if (!text || (!extra[e].required && text->empty())) continue;  // an optional value not given: 0
    if (auto problem = table::read_field(extra[e], *text, source.extra[e])) {
      table.problems.push_back({number, problem->field, std::move(problem->text)});
    }
  }
  if (table.problems.size() == problems_before) table.sources.push_back(std::move(source));
}

void check_unique_ids(SourceTable& table) {
  std::unordered_map<std::string_view, int> first_line;
  for (const Source& s : table.sources) {
    const auto [where, fresh] = first_line.emplace(s.id, s.line);
    if (!fresh) {
      table.problems.push_back(
          {s.line, "id", "duplicate id \"" + s.id + "\", first on line " + std::to_string(where->second)});
    }
  }
  table::sort_by_line(table.problems);
}

}  // namespace

bool valid_id(std::string_view id) {
  if (id.empty() || id.size() > kLongestId || id.front() == '.') return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  });
}

SourceTable read_sources(std::string_view text, const Parameters& defaults, const std::vector<NumberColumn>& extra) {
  const table::Csv csv = table::read_csv(text, source_columns(extra));
  SourceTable table;
  table.problems = csv.problems;
  for (const table::Row& row : csv.rows) read_source(csv, row, defaults, extra, table);
  check_unique_ids(table);  // and puts the problems in line order
  return table;
}

}  // namespace slipvel::apps
