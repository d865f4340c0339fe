// slipvel/sink.hpp: where the writers of the libraries put their bytes.
//
//   slipvel::StringSink text;
//   slipvel::write_moment_rate(text, rows, dt);   // text.text() holds the file
//
// A writer hands its file over in pieces, in order, as it makes them; a
// program's sink is a file that takes its name only once it is whole.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace slipvel {

/// Takes the bytes of one file, in order.
class Sink {
 public:
  virtual ~Sink() = default;
  /// Takes `pieces`, one after the other. Throws what the sink throws when it
  /// cannot take them (a full disk); the writer stops there.
  virtual void write(std::span<const std::string_view> pieces) = 0;
  /// Takes `bytes`.
  void write(std::string_view bytes) { write(std::span<const std::string_view>(&bytes, 1)); }
};

/// A sink that keeps the bytes in memory.
class StringSink : public Sink {
 public:
  using Sink::write;
  void write(std::span<const std::string_view> pieces) override {
    for (const std::string_view piece : pieces) text_.append(piece);
  }
  /// The bytes taken so far.
  const std::string& text() const { return text_; }
  /// The bytes, moved out.
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace slipvel
