#include <slipvel/sources.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

#include <slipvel/text.hpp>

#include "source_rows.hpp"

namespace slipvel {
namespace detail {
namespace {

using table::Column;
using table::NumberColumn;

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
std::optional<Problem> set_parameter(Parameters& p, std::size_t index, std::string_view text) {
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
                 const std::vector<NumberColumn>& extra, SourceRows& table) {
  const auto field = [&](std::size_t column) -> std::optional<std::string_view> {
    if (!csv.position[column]) return std::nullopt;
    return row.fields[*csv.position[column]];
  };
  const Where where = csv.where(row.line);
  const std::size_t problems_before = table.problems.size();
  const auto problem = [&](std::string field, std::string text) {
    table.problems.push_back(table::error(where, std::move(field), std::move(text)));
  };
  SourceRow source{where.line, std::string(*field(0)), defaults};
  std::vector<double> values(extra.size());
  if (!valid_id(source.id)) {
    problem("id",
            "id = " + table::quoted(source.id) + ": must be 1 to 64 letters, digits, _, - or ., not starting with .");
  }
  for (std::size_t i = 0; i < kParameterColumns.size(); ++i) {
    const auto text = field(1 + i);
    if (!text || text->empty()) continue;
    if (auto found = set_parameter(source.parameters, i, *text)) problem(found->field, std::move(found->text));
  }
  for (std::size_t e = 0; e < extra.size(); ++e) {
    const auto text = field(1 + kParameterColumns.size() + e);
    if (!text || (!extra[e].required && text->empty())) continue;  // an optional value not given: 0
    if (auto found = table::read_field(extra[e], *text, values[e])) problem(found->field, std::move(found->text));
  }
  if (table.problems.size() > problems_before) return;
  table.rows.push_back(std::move(source));
  table.extra.push_back(std::move(values));
}

void check_unique_ids(const table::Csv& csv, SourceRows& table) {
  std::unordered_map<std::string_view, int> first_line;
  for (const SourceRow& s : table.rows) {
    const auto [where, fresh] = first_line.emplace(s.id, s.line);
    if (!fresh) {
      table.problems.push_back(table::error(Where::table(csv.name, s.line, csv.from_columns), "id",
                                            "duplicate id \"" + s.id + "\", first on " +
                                                (csv.from_columns ? "row " : "line ") + std::to_string(where->second)));
    }
  }
  table::sort_by_line(table.problems);
}

}  // namespace

SourceRows read_source_rows(const Table& input, const Parameters& defaults, const std::vector<NumberColumn>& extra) {
  const table::Csv csv = table::read_csv(input, source_columns(extra));
  SourceRows table;
  table.problems = csv.problems;
  for (const table::Row& row : csv.rows) read_source(csv, row, defaults, extra, table);
  check_unique_ids(csv, table);  // and puts the problems in line order
  return table;
}

}  // namespace detail

bool valid_id(std::string_view id) {
  if (id.empty() || id.size() > detail::kLongestId || id.front() == '.') return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  });
}

SourcesTable read_sources(const Table& table, const Parameters& defaults) {
  detail::SourceRows read = detail::read_source_rows(table, defaults, {});
  return {std::move(read.rows), std::move(read.problems)};
}

std::string sources_text(const std::vector<SourceRow>& rows) {
  std::string text = "id,dt,nt,fmax,vm,slip,tr,ts\n";
  for (const SourceRow& row : rows) {
    const Parameters& p = row.parameters;
    text += row.id + "," + text::shortest(p.dt) + "," + std::to_string(p.nt);
    for (const double value : {p.fmax, p.vm, p.slip, p.tr, stopping_time(p)})
      text.append(",").append(text::shortest(value));
    text += "\n";
  }
  return text;
}

}  // namespace slipvel
