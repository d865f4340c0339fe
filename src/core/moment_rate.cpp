#include <slipvel/moment_rate.hpp>

#include <cmath>

#include <slipvel/slipvel.hpp>
#include <slipvel/text.hpp>

#include "csv.hpp"

namespace slipvel {
namespace {

constexpr const char* kHeader = "time(s),moment_rate(N*m/s)";

// Rows a piece: the file is handed to the sink in pieces of a bounded size.
constexpr std::size_t kRowsAPiece = 4096;

void append_rows(std::string& text, const std::vector<double>& rows, double dt, std::size_t first, std::size_t last) {
  for (std::size_t k = first; k < last; ++k) {
    text += text::shortest(static_cast<double>(k) * dt);
    text += ',';
    text += text::shortest(rows[k]);
    text += '\n';
  }
}

[[noreturn]] void refuse_line(const std::string& name, int line, std::string text) {
  throw ParameterError(std::vector<Diagnostic>{table::error(Where::table(name, line), "", std::move(text))});
}

}  // namespace

void write_moment_rate(Sink& sink, const std::vector<double>& rows, double dt) {
  std::string text = std::string(kHeader) + "\n";
  for (std::size_t first = 0; first < rows.size(); first += kRowsAPiece) {
    append_rows(text, rows, dt, first, std::min(rows.size(), first + kRowsAPiece));
    sink.write(text);
    text.clear();
  }
  if (rows.empty()) sink.write(text);
}

std::string moment_rate_text(const std::vector<double>& rows, double dt) {
  StringSink text;
  write_moment_rate(text, rows, dt);
  return text.take();
}

MomentRateFile read_moment_rate(std::string_view text, const std::string& name) {
  const table::Column columns[] = {{"time(s)", true}, {"moment_rate(N*m/s)", true}};
  // The rows' fields are views into the table's text: it lives as long as they do.
  const Table table = Table::text(name, std::string(text));
  const table::Csv csv = table::read_csv(table, {std::begin(columns), std::end(columns)});
  if (!csv.problems.empty()) throw ParameterError(csv.problems);
  MomentRateFile file;
  for (const table::Row& row : csv.rows) {
    double values[2] = {0, 0};
    for (int c = 0; c < 2; ++c) {
      const std::string_view field = row.fields[*csv.position[static_cast<std::size_t>(c)]];
      if (table::parse_number(field, values[c]) != table::Parsed::kOk) {
        refuse_line(name, row.line,
                    std::string(c == 0 ? "time" : "moment rate") + " = " + table::quoted(field) +
                        ": must be a finite decimal or exponent number");
      }
    }
    if (!file.times.empty() && !(values[0] > file.times.back())) {
      refuse_line(name, row.line, "time = " + text::shortest(values[0]) + ": must be later than the row before");
    }
    file.times.push_back(values[0]);
    file.rates.push_back(values[1]);
  }
  return file;
}

}  // namespace slipvel
