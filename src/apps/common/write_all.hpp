// Writing whole buffers to a file descriptor.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

namespace slipvel::apps {

// Writes all of `bytes` to `fd`, resuming after partial writes and signals.
// Returns 0 or the errno of the failure.
int write_all(int fd, std::string_view bytes) noexcept;

// Writes all of `pieces`, one after the other, gathered into as few system
// calls as the system allows (writev). Returns 0 or the errno of the failure.
int write_all(int fd, std::span<const std::string_view> pieces) noexcept;

// Writes `text` to standard output or standard error and flushes it. Throws
// WriteError naming the stream when the bytes do not get out (a full disk
// behind a redirection, a closed pipe).
void print_checked(std::FILE* stream, std::string_view text);

}  // namespace slipvel::apps
