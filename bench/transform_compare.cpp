// dwvfast against the radix-2 form it replaced (tests/dwvfast_reference.hpp)
// and against FFTW's complex out-of-place transform (double, FFTW_MEASURE,
// forward, same length), in one process: each round times every routine in
// turn, the order rotating, and the medians of the rounds are printed with
// their ratios. dwvfast works in place, so each of its calls (and each of the
// old form's) includes copying the input into the array it transforms, as an
// out-of-place transform reads one array and writes another; the copy alone
// is printed too. Also the first call on a new thread, which builds the
// twiddle table, against the old form's table and transform.
//
// Usage: slipvel_transform_compare [ROUNDS (default 9)] [LOG2_N ...] (default 8 10 12 14 16)
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dwvfast.hpp"
#include "dwvfast_reference.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Complex = std::complex<double>;
namespace reference = slipvel::reference;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Microseconds a call of `f`, over `calls` calls.
template <class F>
double microseconds_per_call(int calls, F&& f) {
  const auto start = Clock::now();
  for (int i = 0; i < calls; ++i) f();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

// The first call's time in microseconds, on a thread of its own.
template <class F>
double on_new_thread(F&& f) {
  double elapsed = 0;
  std::thread([&] {
    const auto start = Clock::now();
    f();
    elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }).join();
  return elapsed;
}

struct Length {
  int n;
  std::vector<Complex> input, work;
  std::vector<reference::Twiddle> factors;
  fftw_complex *in, *out;
  fftw_plan plan;
  int calls;
  std::vector<double> copy_us, reference_us, fast_us, fftw_us;

  explicit Length(int n_) : n(n_), input(static_cast<std::size_t>(n_)), work(input.size()) {
    const auto size = static_cast<std::size_t>(n) * sizeof(fftw_complex);
    in = static_cast<fftw_complex*>(fftw_malloc(size));
    out = static_cast<fftw_complex*>(fftw_malloc(size));
    plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);  // planning overwrites both
    std::mt19937_64 engine(static_cast<std::uint64_t>(n));
    std::uniform_real_distribution<double> uniform(-1, 1);
    for (Complex& z : input) z = {uniform(engine), uniform(engine)};
    std::memcpy(in, input.data(), size);
    factors = reference::last_stage_twiddles(n, -1, slipvel::kPai);
    calls = std::max(1, static_cast<int>(20e6 / (static_cast<double>(n) * 12 * 4)));
    check();
  }
  ~Length() {
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
  }
  Length(const Length&) = delete;
  Length& operator=(const Length&) = delete;

  void copy() { std::copy(input.begin(), input.end(), work.begin()); }
  void old_form() {
    copy();
    reference::transform(n, work, factors);
  }
  void fast() {
    copy();
    slipvel::detail::dwvfast(n, work, n, -1);
  }

  // The two forms must agree to the bit before either is timed.
  void check() {
    old_form();
    const std::vector<Complex> expected = work;
    fast();
    if (std::memcmp(expected.data(), work.data(), work.size() * sizeof(Complex)) != 0) {
      std::fprintf(stderr, "transform_compare: dwvfast differs from the old form at n = %d\n", n);
      std::exit(1);
    }
  }

  void round(int turn) {
    for (int i = 0; i < 4; ++i) {
      switch ((i + turn) % 4) {
        case 0:
          copy_us.push_back(microseconds_per_call(calls, [&] { copy(); }));
          break;
        case 1:
          reference_us.push_back(microseconds_per_call(calls, [&] { old_form(); }));
          break;
        case 2:
          fast_us.push_back(microseconds_per_call(calls, [&] { fast(); }));
          break;
        default:
          fftw_us.push_back(microseconds_per_call(calls, [&] { fftw_execute(plan); }));
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  std::vector<int> logs;
  for (int i = 2; i < argc; ++i) logs.push_back(std::atoi(argv[i]));
  if (logs.empty()) logs = {8, 10, 12, 14, 16};
  if (rounds < 1) {
    std::fprintf(stderr, "usage: slipvel_transform_compare [ROUNDS] [LOG2_N ...]\n");
    return 2;
  }

  std::vector<Length*> lengths;
  for (const int l : logs) lengths.push_back(new Length(1 << l));
  for (int r = 0; r < rounds; ++r) {
    for (Length* length : lengths) length->round(r);
  }

  std::printf("median of %d alternating rounds, microseconds a call (old, dwvfast: copy + in-place transform)\n",
              rounds);
  std::printf("%8s %9s %9s %9s %9s %12s %12s %12s\n", "n", "copy", "old", "dwvfast", "fftw", "dwvfast/fftw", "old/fftw",
              "dwvfast/old");
  for (const Length* length : lengths) {
    const double copy = median(length->copy_us), old = median(length->reference_us), fast = median(length->fast_us),
                 fftw = median(length->fftw_us);
    std::printf("%8d %9.2f %9.2f %9.2f %9.2f %12.2f %12.2f %12.2f\n", length->n, copy, old, fast, fftw, fast / fftw,
                old / fftw, fast / old);
  }

  // The first call on a new thread: the old form built its factors and
  // transformed; dwvfast builds its tables (kept for the thread) and
  // transforms. The factors alone, n/2 calls of cos and sin, bound both.
  for (Length* length : lengths) {
    std::vector<double> old_first, fast_first, factors_only;
    for (int r = 0; r < rounds; ++r) {
      old_first.push_back(on_new_thread([&] {
        const auto factors = reference::last_stage_twiddles(length->n, -1, slipvel::kPai);
        length->copy();
        reference::transform(length->n, length->work, factors);
      }));
      fast_first.push_back(on_new_thread([&] { length->fast(); }));
      factors_only.push_back(on_new_thread([&] {
        if (reference::last_stage_twiddles(length->n, -1, slipvel::kPai).empty()) std::abort();
      }));
    }
    const double old = median(old_first), fast = median(fast_first);
    std::printf(
        "first call on a new thread, n = %d: old %.1f us, dwvfast %.1f us, dwvfast/old %.2f; factors alone %.1f us\n",
        length->n, old, fast, fast / old, median(factors_only));
  }
  for (Length* length : lengths) delete length;
}
