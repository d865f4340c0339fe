// Benchmarks of the run's parts and of the whole run into memory.
#include <benchmark/benchmark.h>

#include <array>
#include <complex>
#include <vector>

#include <slipvel/slipvel.hpp>

#include "dwvfast.hpp"
#include "run.hpp"
#include "run_output.hpp"
#include "slip_velocity.hpp"
#include "spectrum_file.hpp"
#include "time_history.hpp"

namespace {

using namespace slipvel;

constexpr double kDt = 0.005;
constexpr int kNt = 4096;
const double kTd = peak_time(6.0);
constexpr double kTr = 2.114;
constexpr double kTs = kTr * 1.5;

struct Velocity {
  std::vector<double> tm, rate;
  Velocity() : tm(kNt), rate(kNt) {
    for (int i = 0; i < kNt; ++i) tm[static_cast<std::size_t>(i)] = static_cast<double>(i) * kDt;
    sample();
  }
  void sample() {
    double am, tb, b, c, ar, eps;
    detail::vslip(tm, rate, kNt, kNt, 1.0, kTd, 4.092, am, kTr, kTs, tb, b, c, ar, eps);
  }
};

std::vector<std::complex<double>> forward_transform(const std::vector<double>& rate) {
  std::vector<std::complex<double>> a(rate.begin(), rate.end());
  detail::dwvfast(kNt, a, kNt, -1);
  return a;
}

void BM_vslip(benchmark::State& state) {
  Velocity v;
  for (auto _ : state) {
    v.sample();
    benchmark::DoNotOptimize(v.rate.data());
  }
}
BENCHMARK(BM_vslip)->Unit(benchmark::kMicrosecond);

void BM_dwvfast(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<std::complex<double>> input(static_cast<std::size_t>(n)), a;
  for (int i = 0; i < n; ++i) input[static_cast<std::size_t>(i)] = {static_cast<double>(i % 17) - 8, 0};
  for (auto _ : state) {
    a = input;
    detail::dwvfast(n, a, n, -1);
    benchmark::DoNotOptimize(a.data());
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_dwvfast)
    ->RangeMultiplier(2)
    ->Range(1 << 8, 1 << 14)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMicrosecond);

void BM_time_history_rows(benchmark::State& state) {
  const SlipFunction f = slip_function({});
  for (auto _ : state) {
    benchmark::DoNotOptimize(detail::time_history_rows_text(f.time, f.velocity, f.displacement, f.acceleration));
  }
}
BENCHMARK(BM_time_history_rows)->Unit(benchmark::kMicrosecond);

void BM_spectrum_file(benchmark::State& state) {
  const Velocity v;
  const auto transformed = forward_transform(v.rate);
  const SpectrumGrid grid = spectrum_grid(kDt, kNt);
  const auto rows = static_cast<std::size_t>(grid.nyquist_index - 1);
  std::vector<double> frequency(rows), velocity(rows), acceleration(rows);
  std::vector<std::complex<double>> a;
  for (auto _ : state) {
    a = transformed;  // the rows scale the values in place
    detail::amplitude_rows(kDt, kPai, grid, a, frequency, velocity, acceleration);
    benchmark::DoNotOptimize(detail::spectrum_file_text(frequency, velocity, acceleration));
  }
}
BENCHMARK(BM_spectrum_file)->Unit(benchmark::kMicrosecond);

void BM_whole_run_in_memory(benchmark::State& state) {
  for (auto _ : state) {
    program::MemorySink sink;
    program::run(sink);
    benchmark::DoNotOptimize(sink.files);
  }
}
BENCHMARK(BM_whole_run_in_memory)->Unit(benchmark::kMicrosecond);

// What slipvel-batch does for each source before writing: the function, its
// spectrum and both texts, through the public interface.
void BM_source_in_memory(benchmark::State& state) {
  for (auto _ : state) {
    const SlipFunction f = slip_function({});
    benchmark::DoNotOptimize(time_history_text(f));
    benchmark::DoNotOptimize(spectrum_text(spectrum(f)));
  }
}
BENCHMARK(BM_source_in_memory)->Unit(benchmark::kMicrosecond);

// The work that bench/python_bench.py times from Python.
void BM_function_and_spectrum(benchmark::State& state) {
  for (auto _ : state) {
    const SlipFunction f = slip_function({});
    benchmark::DoNotOptimize(spectrum(f));
  }
}
BENCHMARK(BM_function_and_spectrum)->Unit(benchmark::kMicrosecond);

// S(t) at a million times 0, 4e-6, ... s (every stage and the rest after ts),
// the curve built once, into memory already there: the work that
// bench/python_bench.py slip_until times from Python.
void BM_slip_until_many(benchmark::State& state) {
  constexpr int kTimes = 1'000'000;
  const Parameters p;
  const Shape shape = find_shape(p);
  std::vector<double> times(kTimes), slips(kTimes);
  for (int k = 0; k < kTimes; ++k) times[static_cast<std::size_t>(k)] = static_cast<double>(k) * (4.0 / kTimes);
  for (auto _ : state) {
    slip_until(shape, p, times, slips);
    benchmark::DoNotOptimize(slips.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_slip_until_many)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
