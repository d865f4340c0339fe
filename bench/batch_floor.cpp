// The floor of a batch: what writing its files costs and nothing else. Writes
// the same bytes to the same number of files as slipvel-batch does for a
// table of COUNT sources of the built-in parameters (ids s0, s1, ...), the
// same way (write_atomically) and on JOBS threads; the texts are made once,
// before anything else.
// Usage: slipvel_batch_floor COUNT DIR JOBS
//
// With --copy it is the floor of an SRF file: it reads the file REFERENCE (the
// batch's own output) and writes the same bytes to OUT the same way.
// Usage: slipvel_batch_floor --copy REFERENCE OUT
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <slipvel/slipvel.hpp>
#include <string>

#include "common/atomic_file.hpp"
#include "common/batch.hpp"
#include "parallel.hpp"

namespace {

// Reads and writes a piece at a time through one buffer, the least memory
// traffic a copy can have.
int copy(const char* reference, const char* out) {
  std::ifstream in(reference, std::ios::binary);
  slipvel::apps::AtomicFile file(out, slipvel::apps::read_umask());
  std::string piece(1 << 20, '\0');
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    file.write(std::string_view(piece.data(), static_cast<std::size_t>(in.gcount())));
  }
  file.commit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--copy") return copy(argv[2], argv[3]);
  if (argc != 4) {
    std::fprintf(stderr, "usage: slipvel_batch_floor COUNT DIR JOBS\n");
    return 2;
  }
  const auto count = static_cast<std::size_t>(std::atoi(argv[1]));
  const std::filesystem::path dir = argv[2];
  const int jobs = std::atoi(argv[3]);
  const slipvel::SlipFunction f = slipvel::slip_function({});
  const std::string slip = slipvel::time_history_text(f), amp = slipvel::spectrum_text(slipvel::spectrum(f));
  const mode_t umask = slipvel::apps::read_umask();
  std::filesystem::create_directories(dir);
  slipvel::detail::for_each_index(count, jobs, [&](std::size_t i) {
    const std::string id = std::string("s").append(std::to_string(i));
    slipvel::apps::write_atomically(dir / std::string(id).append("_slip.csv"), slip, umask);
    slipvel::apps::write_atomically(dir / std::string(id).append("_amp.csv"), amp, umask);
  });
  // A summary row is about 330 bytes, as the batch's are.
  std::string summary;
  for (std::size_t i = 0; i < count; ++i) summary.append(329, '0').append("\n");
  slipvel::apps::write_atomically(dir / "summary.csv", summary, umask);
}
