// The table of faults every interface refuses (tests/data/bad_faults.txt),
// read into cases, and each case as the program's arguments and as the
// library's inputs and options.
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <slipvel/rupture.hpp>

namespace slipvel::testing {

struct BadFault {
  std::string name;
  // "segments" (or "trace" and "faults"), "patches", "medium" → the CSV text
  std::map<std::string, std::string> tables;
  std::vector<std::string> options;  // as the program takes them, besides the defaults
  std::string at, field, says;
};

inline const char* const kOneSegment =
    "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,30,15,1,6,3,90,0.5,1.5,1.2\n";

// Splits "--vr 1e-6 --hypocentre-at \"\"" at blanks; "" is an empty word.
inline std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string word; in >> word;) out.push_back(word == "\"\"" ? "" : word);
  return out;
}

inline std::vector<BadFault> read_bad_faults(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<BadFault> cases;
  std::string line, table;
  while (std::getline(in, line)) {
    if (line.starts_with("  ") && !table.empty()) {
      cases.back().tables[table] += line.substr(2) + "\n";
      continue;
    }
    table.clear();
    if (line.empty() || line.starts_with("#")) continue;
    const std::size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank), value = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (key == "case") {
      cases.push_back({value, {}, {}, "", "", ""});
    } else if (key == "segments" || key == "trace" || key == "faults" || key == "patches" || key == "medium") {
      table = key;
      cases.back().tables[key];
    } else if (key == "with") {
      cases.back().options = words(value);
    } else if (key == "at") {
      cases.back().at = value;
    } else if (key == "field") {
      cases.back().field = value;
    } else if (key == "says") {
      cases.back().says = value;
    } else if (key != "text-only") {
      throw std::runtime_error(path + ": unknown line: " + line);
    }
  }
  for (BadFault& c : cases) {
    if (!c.tables.contains("segments") && !c.tables.contains("trace")) c.tables["segments"] = kOneSegment;
  }
  return cases;
}

// The value following `option` in the case's options, if given.
inline std::optional<std::string> option_value(const BadFault& c, const std::string& option) {
  for (std::size_t i = 0; i + 1 < c.options.size(); ++i) {
    if (c.options[i] == option) return c.options[i + 1];
  }
  return std::nullopt;
}

inline bool has_option(const BadFault& c, const std::string& option) {
  return std::find(c.options.begin(), c.options.end(), option) != c.options.end();
}

// The program's arguments: the tables as files of these names in its
// folder, the case's options over the defaults, an SRF file (and the
// moment-rate file) to write.
inline std::vector<std::string> program_arguments(const BadFault& c) {
  std::vector<std::string> arguments;
  for (const char* table : {"segments", "trace", "faults", "patches", "medium"}) {
    if (c.tables.contains(table))
      arguments.insert(arguments.end(), {std::string("--") + table, std::string(table) + ".csv"});
  }
  if (!option_value(c, "--vr-fraction") && !option_value(c, "--vr")) arguments.insert(arguments.end(), {"--vr", "3"});
  if (!option_value(c, "--hypocentre-at") && !option_value(c, "--hypocentre")) {
    arguments.insert(arguments.end(), {"--hypocentre", "1:0:5"});
  }
  for (std::size_t i = 0; i < c.options.size(); ++i) {
    arguments.push_back(c.options[i]);
    if (c.options[i] == "--moment-rate") arguments.push_back("rate.csv");
  }
  arguments.insert(arguments.end(), {"--srf", "r.srf"});
  return arguments;
}

// What the library finds, built as the program builds: the tables named as
// the program's messages name them, then the checks of the files asked for.
inline std::vector<Diagnostic> library_diagnostics(const BadFault& c) {
  const auto number = [&](const char* option, double otherwise) {
    const auto value = option_value(c, option);
    return value ? std::stod(*value) : otherwise;
  };
  const auto parsed = [](auto result) -> decltype(std::get<0>(result)) {
    if (const auto* d = std::get_if<Diagnostic>(&result)) throw ParameterError(std::vector<Diagnostic>{*d});
    return std::get<0>(result);
  };
  try {
    const auto at = option_value(c, "--hypocentre-at");
    const rupture::HypocentreGiven hypocentre =
        at ? rupture::HypocentreGiven(
                 parsed(rupture::parse_position(*at, "hypocentre_at", OptionSpelling::kCommandLine)))
           : rupture::HypocentreGiven(parsed(rupture::parse_on_segment(
                 option_value(c, "--hypocentre").value_or("1:0:5"), "hypocentre", OptionSpelling::kCommandLine)));
    const auto fraction = option_value(c, "--vr-fraction");
    rupture::Options options(hypocentre, fraction
                                             ? rupture::RuptureVelocity(rupture::FractionOfVs{std::stod(*fraction)})
                                             : rupture::RuptureVelocity(rupture::UniformSpeed{number("--vr", 3)}));
    if (const auto mw = option_value(c, "--mw")) options.mw = std::stod(*mw);
    if (option_value(c, "--mw-scales") == "slip") options.mw_scales = rupture::MagnitudeScales::kSlip;
    if (const auto km = option_value(c, "--hypocentre-tolerance")) options.hypocentre_tolerance = std::stod(*km);
    options.max_strike_drift = number("--max-strike-drift", options.max_strike_drift);
    options.sampling.dt = number("--dt", options.sampling.dt);
    options.sampling.nt = static_cast<int>(number("--nt", options.sampling.nt));
    options.sampling.fmax = number("--fmax", options.sampling.fmax);
    options.rigidity = number("--rigidity", options.rigidity);
    rupture::Inputs inputs = c.tables.contains("trace")
                                 ? rupture::Inputs(rupture::Traces{Table::text("trace.csv", c.tables.at("trace")),
                                                                   Table::text("faults.csv", c.tables.at("faults"))})
                                 : rupture::Inputs(Table::text("segments.csv", c.tables.at("segments")));
    if (c.tables.contains("patches")) inputs.patches = Table::text("patches.csv", c.tables.at("patches"));
    if (c.tables.contains("medium")) inputs.medium = Table::text("medium.csv", c.tables.at("medium"));
    const rupture::Built built = rupture::build(inputs, options);
    if (!built.rupture) return built.diagnostics;
    const srf::Version version = option_value(c, "--srf-version") == "2.0" ? srf::Version::k2 : srf::Version::k1;
    std::vector<Diagnostic> found = built.diagnostics;  // its warnings and notes
    for (const Diagnostic& d : rupture::srf_problems(*built.rupture, {version}, 2)) found.push_back(d);
    if (has_option(c, "--moment-rate")) {
      for (const Diagnostic& d : rupture::moment_rate_problems(*built.rupture)) found.push_back(d);
    }
    return found;
  } catch (const ParameterError& e) {
    return e.diagnostics();
  }
}

// Whether the case's first error is where, and about what, the table says.
inline std::string mismatch(const BadFault& c, const std::vector<Diagnostic>& found) {
  const auto first =
      std::find_if(found.begin(), found.end(), [](const Diagnostic& d) { return d.severity == Severity::kError; });
  if (first == found.end()) return "no error";
  const Where& w = first->where;
  const std::string at = w.kind == Where::Kind::kOption ? "option " + w.name
                         : w.kind == Where::Kind::kNone ? "none"
                         : w.line > 0 ? w.name.substr(0, w.name.find('.')) + " " + std::to_string(w.line)
                                      : w.name.substr(0, w.name.find('.'));
  if (at != c.at) return "at " + at + ", not " + c.at + ": " + rendered(*first);
  if (first->field != c.field) return "field " + first->field + ", not " + c.field + ": " + rendered(*first);
  if (first->text.find(c.says) == std::string::npos) return "says " + first->text;
  return "";
}

}  // namespace slipvel::testing
