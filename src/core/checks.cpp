#include "checks.hpp"

#include <cmath>
#include <memory>
#include <type_traits>

#include <slipvel/text.hpp>

namespace slipvel {

double peak_time(double fmax) { return 1 / (kPai * fmax); }

double stopping_time(const Parameters& p) { return p.ts.value_or(p.tr * 1.5); }

Parameters shortened_record(const Parameters& p) {
  Parameters shorter = p;
  const double needed = std::floor(stopping_time(p) / p.dt) + 2;
  for (shorter.nt = 2; shorter.nt < p.nt && static_cast<double>(shorter.nt) < needed;) shorter.nt *= 2;
  return shorter;
}

namespace {

std::string joined_texts(const std::vector<Problem>& problems) {
  std::string message;
  for (const Problem& p : problems) message += (message.empty() ? "" : "\n") + p.text;
  return message;
}

std::vector<Diagnostic> as_diagnostics(const std::vector<Problem>& problems) {
  std::vector<Diagnostic> diagnostics;
  for (const Problem& p : problems) {
    Diagnostic& d = diagnostics.emplace_back();
    d.field = p.field;
    d.text = p.text;
  }
  return diagnostics;
}

std::vector<Problem> as_problems(const std::vector<Diagnostic>& diagnostics) {
  std::vector<Problem> problems;
  for (const Diagnostic& d : diagnostics) problems.emplace_back(d.field, rendered(d));
  return problems;
}

}  // namespace

ParameterError::ParameterError(std::vector<Problem> problems)
    : std::invalid_argument(joined_texts(problems)),
      found_(std::make_shared<const Found>(Found{problems, as_diagnostics(problems)})) {}

ParameterError::ParameterError(Problem problem) : ParameterError(std::vector<Problem>{std::move(problem)}) {}

ParameterError::ParameterError(std::vector<Diagnostic> diagnostics)
    : std::invalid_argument(joined_texts(as_problems(diagnostics))),
      found_(std::make_shared<const Found>(Found{as_problems(diagnostics), std::move(diagnostics)})) {}

Where Where::table(std::string name, int line, bool row) { return {Kind::kTable, std::move(name), line, row}; }

Where Where::option(std::string name) { return {Kind::kOption, std::move(name), 0, false}; }

std::string rendered(const Diagnostic& d) {
  if (d.where.kind != Where::Kind::kTable) return d.text;
  if (d.where.line <= 0) return d.where.name + ": " + d.text;
  const std::string line = std::to_string(d.where.line);
  return (d.where.row ? d.where.name + " row " + line : d.where.name + ":" + line) + ": " + d.text;
}

bool has_errors(const std::vector<Diagnostic>& diagnostics) {
  for (const Diagnostic& d : diagnostics) {
    if (d.severity == Severity::kError) return true;
  }
  return false;
}

std::string spelt(const std::string& keyword, OptionSpelling spelling) {
  if (spelling == OptionSpelling::kKeyword) return keyword;
  std::string option = "--" + keyword;
  for (char& c : option) c = c == '_' ? '-' : c;
  return option;
}

}  // namespace slipvel

namespace slipvel::detail {

using text::shortest;

namespace {

bool positive(double value) { return std::isfinite(value) && value > 0; }

bool power_of_two_in_range(int nt) { return nt >= 2 && nt <= kLargestNt && (nt & (nt - 1)) == 0; }

}  // namespace

Problem problem(const std::string& name, const std::string& value, const std::string& rule) {
  return {name, name + " = " + value + ": " + rule};
}

Problem problem(const std::string& name, double value, const std::string& rule) {
  return problem(name, shortest(value), rule);
}

std::vector<Problem> parameter_problems(const Parameters& p) {
  std::vector<Problem> problems;
  for (const Finding& f : parameter_findings(p)) problems.push_back(problem(f.name, f.value, f.rule));
  return problems;
}

std::vector<Finding> parameter_findings(const Parameters& p) {
  const auto problem = [](const std::string& name, const auto& value, const std::string& rule) {
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, double>)
      return Finding{name, shortest(value), rule};
    else
      return Finding{name, value, rule};
  };
  const std::string kPositive = "must be finite and greater than 0";
  const double ts = stopping_time(p);
  const bool dt_ok = positive(p.dt), nt_ok = power_of_two_in_range(p.nt), fmax_ok = positive(p.fmax);
  const bool tr_ok = positive(p.tr), ts_ok = tr_ok && std::isfinite(ts) && ts > p.tr;

  std::vector<Finding> found;
  if (!dt_ok) found.push_back(problem("dt", p.dt, kPositive));
  if (!nt_ok) {
    found.push_back(
        problem("nt", std::to_string(p.nt), "must be a power of two from 2 to " + std::to_string(kLargestNt)));
  } else if (dt_ok && ts_ok && !(static_cast<double>(p.nt - 1) * p.dt >= ts)) {
    // A shorter record would cut the function off and carry less slip than asked.
    found.push_back(problem("nt", std::to_string(p.nt),
                            "the record (nt - 1)*dt = " + shortest(static_cast<double>(p.nt - 1) * p.dt) +
                                " s must reach ts = " + shortest(ts) + " s to hold the whole function"));
  }
  if (!fmax_ok) found.push_back(problem("fmax", p.fmax, kPositive));
  if (!positive(p.vm)) found.push_back(problem("vm", p.vm, kPositive));
  if (!positive(p.slip)) {
    found.push_back(problem("slip", p.slip, kPositive));
  } else if (p.slip < kSmallestSlip) {
    // The search multiplies two differences of slips; from here up, no product
    // of two that are not 0 rounds to 0 and loses its sign.
    found.push_back(problem(
        "slip", p.slip,
        "must be at least " + shortest(kSmallestSlip) + " m: the onset search's arithmetic fails on smaller slips"));
  }
  if (!tr_ok) {
    found.push_back(problem("tr", p.tr, kPositive));
  } else if (fmax_ok) {
    // The onset search starts at 1.01·td and must start before the rise time.
    const double td = peak_time(p.fmax);
    const double first_onset = td * 1.01;
    if (!(p.tr > first_onset)) {
      found.push_back(problem("tr", p.tr,
                              "must be greater than 1.01*td = " + shortest(first_onset) +
                                  " s, where the onset search starts (td = 1/(3.141592654*fmax) = " + shortest(td) +
                                  " s)"));
    }
  }
  if (tr_ok && !ts_ok) {
    found.push_back(problem("ts", ts, "must be finite and greater than tr = " + shortest(p.tr) + " s"));
  } else if (!tr_ok && p.ts && !positive(*p.ts)) {
    found.push_back(problem("ts", *p.ts, kPositive));  // an unset ts follows tr, whose line says it all
  }
  return found;
}

void refuse(std::vector<Problem> problems) { throw ParameterError(std::move(problems)); }

void refuse(Problem problem) { throw ParameterError(std::move(problem)); }

}  // namespace slipvel::detail
