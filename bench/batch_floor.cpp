// The floor of a batch: what writing its files costs and nothing else. Writes
// the same bytes to the same number of files as slipvel-batch does for a
// table of COUNT sources of the built-in parameters (ids s0, s1, ...), the
// same way (write_atomically) and on JOBS threads; the texts are made once,
// before anything else.
// Usage: slipvel_batch_floor COUNT DIR JOBS
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <slipvel/slipvel.hpp>
#include <string>

#include "batch/atomic_file.hpp"
#include "batch/batch.hpp"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: slipvel_batch_floor COUNT DIR JOBS\n");
    return 2;
  }
  const auto count = static_cast<std::size_t>(std::atoi(argv[1]));
  const std::filesystem::path dir = argv[2];
  const int jobs = std::atoi(argv[3]);
  const slipvel::SlipFunction f = slipvel::slip_function({});
  const std::string slip = slipvel::time_history_text(f), amp = slipvel::spectrum_text(slipvel::spectrum(f));
  const mode_t umask = slipvel::batch::read_umask();
  std::filesystem::create_directories(dir);
  slipvel::batch::for_each_index(count, jobs, [&](std::size_t i) {
    const std::string id = std::string("s").append(std::to_string(i));
    slipvel::batch::write_atomically(dir / std::string(id).append("_slip.csv"), slip, umask);
    slipvel::batch::write_atomically(dir / std::string(id).append("_amp.csv"), amp, umask);
  });
  // A summary row is about 330 bytes, as the batch's are.
  std::string summary;
  for (std::size_t i = 0; i < count; ++i) summary.append(329, '0').append("\n");
  slipvel::batch::write_atomically(dir / "summary.csv", summary, umask);
}
