// slipvel/diagnostic.hpp: what the libraries find wrong with their input, or
// worth saying about it, as data: where (a table and its line, or an option),
// the value's name, how grave it is and the text.
//
//   for (const slipvel::Diagnostic& d : built.diagnostics) std::puts(slipvel::rendered(d).c_str());
//
// Nothing here throws anything but std::bad_alloc.
#pragma once

#include <string>
#include <vector>

namespace slipvel {

/// How grave a diagnostic is.
enum class Severity {
  kError,    ///< the input is refused: nothing is built or written
  kWarning,  ///< the input is taken, but likely a mistake or short of what is meant
  kNote,     ///< what the library did with the input (where a hypocentre landed, a factor it scaled by)
};

/// Where a diagnostic is about.
struct Where {
  enum class Kind {
    kNone,   ///< the input as a whole
    kTable,  ///< a table, or one of its lines
    kOption  ///< an option or keyword argument
  };
  Kind kind = Kind::kNone;
  /// The table as the caller named it ("segments.csv", "<stdin>", "segments"),
  /// or the option by its keyword name ("vr_fraction"), whatever its spelling.
  std::string name;
  int line = 0;      ///< the table's line (from 1); 0: the table as a whole
  bool row = false;  ///< `line` counts the rows of columns given in memory (from 1), not lines of text

  /// A table, or one of its lines.
  static Where table(std::string name, int line = 0, bool row = false);
  /// An option, by its keyword name.
  static Where option(std::string name);
  friend bool operator==(const Where&, const Where&) = default;
};

/// One finding about the input.
struct Diagnostic {
  Where where;
  std::string field;  ///< the value's name ("slip", "vs", "vr_fraction"), "" when none
  Severity severity = Severity::kError;
  /// What is wrong or worth saying, naming the value and the rule. An
  /// option's text starts with the option as the caller spells it
  /// ("--vr = 0: ..." for a program, "vr = 0: ..." for Python); a table's
  /// text leaves the table and line to the rendering.
  std::string text;
  friend bool operator==(const Diagnostic&, const Diagnostic&) = default;
};

/// Returns the diagnostic as the one line a program prints after its name
/// (and "warning: " for a warning): "segments.csv:3: text" for a line of a
/// table, "segments row 2: text" for a row of columns, "segments.csv: text"
/// for a table as a whole, the text alone for an option or the input as a whole.
std::string rendered(const Diagnostic& diagnostic);

/// Whether any of the diagnostics is an error.
bool has_errors(const std::vector<Diagnostic>& diagnostics);

/// How option names are spelt in texts: as a program's options or as keyword arguments.
enum class OptionSpelling {
  kCommandLine,  ///< "--vr-fraction"
  kKeyword,      ///< "vr_fraction"
};

/// Returns the option of keyword name `keyword` ("vr_fraction") as `spelling` spells it.
std::string spelt(const std::string& keyword, OptionSpelling spelling);

}  // namespace slipvel
