// Free-form lines: items written one after the other, wrapped at the line limit.
//
// An item that would bring the line to 80 characters or more starts a new line
// (unless the line is still empty). A text item that opens a line gets one blank
// in front; an empty item list is a bare line end.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace slipvel::textio {

inline constexpr std::size_t kLineLimit = 80;
inline constexpr char kLineEnd = '\n';

// A text, an integer or a real item.
using Item = std::variant<std::string_view, int, double>;

// Appends the line (or lines, after a wrap) with their line ends to `out`.
void append_free_line(std::string& out, std::initializer_list<Item> items);
std::string free_line(std::initializer_list<Item> items);

}  // namespace slipvel::textio
