// Writing whole buffers to a file descriptor.
#pragma once

#include <string_view>

namespace slipvel::apps {

// Writes all of `bytes` to `fd`, resuming after partial writes and signals.
// Returns 0 or the errno of the failure.
int write_all(int fd, std::string_view bytes) noexcept;

}  // namespace slipvel::apps
