// The number texts of the report and the two result files: fixed columns
// and free-form lines, behind the files' texts of <slipvel/slipvel.hpp>.
//
// Each text is correctly rounded (ties to the even digit) from the double's
// exact value, and the same on every machine.
//
// Fixed fields (data rows), each exactly `width` characters:
//   fixed-point    right-aligned with `decimals` decimals; a leading "0." loses
//                  its 0 when that alone makes it fit; else `width` asterisks.
//   exponent       0.dddd (`decimals` significant digits) and E+XX, three-digit
//                  exponents as +XXX without the E; right-aligned; "0." loses
//                  its 0 when exactly full; else asterisks.
// Free-form items (console lines and file headers):
//   real           a blank, a blank or "-", then 9 significant digits:
//                  positional for decimal exponents -4..8, else d.dddE+XX;
//                  trailing zeros dropped, the point kept ("  6.", "  2.5E+09").
//   integer        one blank, the sign if negative, the digits (" 4096").
// Non-finite values are written as NaN, Infinity or -Infinity.
//
// No function here throws anything but std::bad_alloc.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include <slipvel/text.hpp>

namespace slipvel::text {

/// A fixed-width column of a result file.
struct Column {
  int width;     ///< characters of every field
  int decimals;  ///< decimals of a fixed-point column, significant digits of an exponent one
  friend constexpr bool operator==(Column, Column) = default;
};

/// The time-history file's columns: time (s), then velocity, slip and acceleration.
inline constexpr Column kTimeColumn{8, 4};
inline constexpr Column kValueColumn{15, 7};
/// The spectrum file's columns: frequency (Hz), then the two amplitudes in exponent form.
inline constexpr Column kFrequencyColumn{8, 4};
inline constexpr Column kAmplitudeColumn{12, 4};

/// Returns the fixed-point field of `value` in `column` (column.decimals from
/// 0 to 40): exactly column.width characters, asterisks when it does not fit.
std::string fixed_field(double value, Column column);

/// Returns the exponent field of `value` in `column` (column.decimals, the
/// significant digits, from 1 to 17): exactly column.width characters.
std::string exponent_field(double value, Column column);

/// Returns whether `value` shows in the fixed-point column (not as asterisks).
bool fits(double value, Column column);

/// Free-form lines: items written one after the other. An item that would
/// bring the line to kLineLimit characters or more starts a new line (unless
/// the line is still empty); a text item that opens a line gets one blank in
/// front; an empty item list is a bare line end.
inline constexpr std::size_t kLineLimit = 80;
using Item = std::variant<std::string_view, int, double>;

/// Appends the line (or lines, after a wrap) with their line ends to `out`.
void append_free_line(std::string& out, std::initializer_list<Item> items);
std::string free_line(std::initializer_list<Item> items);

}  // namespace slipvel::text
