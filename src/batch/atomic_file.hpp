// Result files that are complete or absent.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <sys/types.h>

namespace slipvel::batch {

// A result file that could not be written: its path and the system's reason.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The process's file-creation mask, read once while only one thread runs
// (reading it means setting it for a moment).
mode_t read_umask();

// Writes `content` to `path`: to a temporary file beside it first (same
// folder, so the rename is atomic), then renamed over the final name once every
// byte was written and the file closed without error. A reader sees the old
// file or the whole new one, never a part. The file gets 0666 less `umask`,
// the mode of a new file. On failure the temporary file is removed and
// WriteError thrown.
void write_atomically(const std::filesystem::path& path, std::string_view content, mode_t umask);

}  // namespace slipvel::batch
