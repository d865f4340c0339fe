// The two result files: opened for update, written from their start, cut at close.
//
// Update open opens the file for reading and writing, creating it if absent
// (an existing file's content is kept until the cut); if that is refused for a
// file that is there, it opens it for reading only, and the first write fails. Cut at close removes whatever an older,
// longer file held after the bytes written by this run.
//
// Every failure ends the run: flush standard output, print on standard error
//   <step>: <reason>
//   apparent state: unit <unit> named <name>
//   last transfer: sequential formatted output
// close the file and abort. The steps are "open", "list output start" (first
// write to a file that opened read-only), "write", "endfile" (cut) and "close".
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

namespace slipvel::program {

struct ResultFileName {
  std::string_view name;  // relative to the current directory
  int unit;               // the number diagnostics name the file by
};

inline constexpr ResultFileName kTimeHistoryFile{"Vek_Slip.csv", 10};
inline constexpr ResultFileName kSpectrumFile{"Vek_Amp.csv", 12};

class ResultFile {
 public:
  explicit ResultFile(const ResultFileName& file);  // update open
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  ~ResultFile();  // a file still open is cut and closed

  void write(std::string_view lines);
  void close();  // cut at close

 private:
  [[noreturn]] void fail(std::string_view step, std::string_view reason);
  [[noreturn]] void fail_with_errno(std::string_view step, int error);

  std::string name_;
  int unit_;
  int fd_ = -1;
  bool read_only_ = false;
  bool written_ = false;
  off_t position_ = 0;
};

}  // namespace slipvel::program
