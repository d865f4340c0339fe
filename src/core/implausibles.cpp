#include "implausibles.hpp"

#include <algorithm>

namespace slipvel::detail {

void Implausibles::add(const Where& where, const std::string& about, const Problem& problem) {
  const auto kind = std::find_if(kinds_.begin(), kinds_.end(), [&](const Kind& k) { return k.field == problem.field; });
  if (kind != kinds_.end()) {
    ++kind->more;
    return;
  }
  Diagnostic d;
  d.where = where;
  d.field = problem.field;
  d.severity = Severity::kWarning;
  d.text = about + problem.text;
  kinds_.push_back({problem.field, std::move(d)});
}

std::vector<Diagnostic> Implausibles::warnings() const {
  std::vector<Diagnostic> found;
  for (const Kind& k : kinds_) {
    Diagnostic d = k.first;
    if (k.more > 0) d.text += " (and " + std::to_string(k.more) + " more " + what_ + ")";
    found.push_back(std::move(d));
  }
  return found;
}

}  // namespace slipvel::detail
