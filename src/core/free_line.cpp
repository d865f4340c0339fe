#include "fixed_forms.hpp"

#include "number_text.hpp"

namespace slipvel::text {
namespace {

using detail::integer_item;
using detail::integer_item_digits;
using detail::kLineEnd;
using detail::real_item;

// The text an item writes, and the length the line limit measures for it.
struct ItemText {
  std::string text;
  std::size_t measured;
};

ItemText item_text(const Item& item) {
  if (const auto* text = std::get_if<std::string_view>(&item)) {
    return {std::string(*text), text->size()};
  }
  if (const auto* integer = std::get_if<int>(&item)) {
    // Only the digits count against the limit, not the blank and the sign.
    return {integer_item(*integer), integer_item_digits(*integer)};
  }
  std::string real = real_item(std::get<double>(item));
  const std::size_t length = real.size();
  return {std::move(real), length};
}

}  // namespace

void append_free_line(std::string& out, std::initializer_list<Item> items) {
  std::size_t position = 0;
  for (const Item& item : items) {
    const ItemText piece = item_text(item);
    if (position > 0 && position + piece.measured >= kLineLimit) {
      out += kLineEnd;
      position = 0;
    }
    if (position == 0 && std::holds_alternative<std::string_view>(item)) {
      out += ' ';
      ++position;
    }
    out += piece.text;
    position += piece.text.size();
  }
  out += kLineEnd;
}

std::string free_line(std::initializer_list<Item> items) {
  std::string out;
  append_free_line(out, items);
  return out;
}

}  // namespace slipvel::text
