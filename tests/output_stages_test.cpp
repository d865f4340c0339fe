#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <span>
#include <vector>

#include "expected_run.hpp"
#include "fingerprint.hpp"
#include "run.hpp"
#include "run_output.hpp"
#include "spectrum_file.hpp"
#include "time_history.hpp"

namespace slipvel {
namespace {

using testing::fingerprint;
using testing::split_lines;

program::MemorySink whole_run() {
  program::MemorySink sink;
  program::run(sink);
  return sink;
}

// Every run, not only the first, gives the recorded report and files.
TEST(Run, ReportAndFilesMatchWhatWasRecordedEveryRun) {
  for (int run = 0; run < 2; ++run) {
    const program::MemorySink sink = whole_run();
    EXPECT_EQ(sink.console, testing::kConsoleReport);
    EXPECT_EQ(sink.files.at("Vek_Slip.csv").size(), 233516u);
    EXPECT_EQ(sink.files.at("Vek_Amp.csv").size(), 71673u);
    EXPECT_EQ(fingerprint(sink.files.at("Vek_Slip.csv")), 0xf720aaf8dd27c47fULL);
    EXPECT_EQ(fingerprint(sink.files.at("Vek_Amp.csv")), 0x56bf0d1be6db3c33ULL);
  }
}

// The file of the first nt samples of `velocity`, dt apart.
std::string time_history_text(double dt, int nt, const std::vector<double>& velocity) {
  const auto n = static_cast<std::size_t>(nt);
  std::vector<double> time(n), displacement(n), acceleration(n);
  detail::time_history_columns(dt, nt, velocity, time, displacement, acceleration);
  return detail::time_history_rows_text(time, std::span(velocity).first(n), displacement, acceleration);
}

TEST(TimeHistory, FirstRowIgnoresTheFirstVelocityExceptInItsOwnField) {
  const std::vector<double> velocity = {2.0, 4.0};
  EXPECT_EQ(time_history_text(0.5, 2, velocity),
            " time(s),velocity,displacement,acceleration\n"
            "  0.0000,      2.0000000,      0.0000000,      0.0000000\n"
            "  0.5000,      4.0000000,      1.5000000,      4.0000000\n");
  EXPECT_EQ(split_lines(time_history_text(0.5, 1, velocity)).size(), 2u);
  EXPECT_EQ(split_lines(time_history_text(0.5, 0, velocity)).size(), 1u);
}

TEST(Spectrum, CapacityWarningFromOneBelowTheCapacity) {
  const SpectrumGrid grid = spectrum_grid(0.005, 4096);
  const std::string warning = " from Ramp: nfast > MOM ! 16400 16400\n";
  EXPECT_EQ(program::spectrum_report(grid, 16399).find("from Ramp"), std::string::npos);
  EXPECT_NE(program::spectrum_report(grid, 16400).find(warning), std::string::npos);
}

TEST(Spectrum, ModulusInScaledForm) {
  struct Case {
    std::complex<double> z;
    double modulus;
  };
  const Case cases[] = {
      {{0, 0}, 0},           {{-3, 4}, 5},    {{1e300, 1e300}, 1e300 * std::sqrt(2.0)},
      {{1e-320, 0}, 1e-320}, {{2, 1e-17}, 2}, {{-1e-200, 1e-200}, 1e-200 * std::sqrt(2.0)},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(detail::modulus(c.z), c.modulus) << c.z;
}

}  // namespace
}  // namespace slipvel
