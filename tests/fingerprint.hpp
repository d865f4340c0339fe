// FNV-1a of a file's bytes, enough to notice any changed byte.
#pragma once

#include <cstdint>
#include <string>

namespace slipvel::testing {

inline std::uint64_t fingerprint(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

}  // namespace slipvel::testing
