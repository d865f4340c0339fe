// Values that keep every rule but are likely a mistake, said once per kind.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <slipvel/diagnostic.hpp>
#include <slipvel/slipvel.hpp>

namespace slipvel::detail {

// Gathers plausibility problems and gives one warning per kind (field): the
// first one's place and text, and how many more there are.
class Implausibles {
 public:
  // `what` is what a count of places is called ("rows", "subfaults").
  explicit Implausibles(std::string what) : what_(std::move(what)) {}
  // A problem at `where`; `about` starts its text ("subfault 1-0-0: "), may be "".
  void add(const Where& where, const std::string& about, const Problem& problem);
  // One warning a kind, in the order the kinds were first met.
  std::vector<Diagnostic> warnings() const;

 private:
  struct Kind {
    std::string field;
    Diagnostic first;
    std::size_t more = 0;
  };
  std::string what_;
  std::vector<Kind> kinds_;
};

}  // namespace slipvel::detail
