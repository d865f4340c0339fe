// The public interface: the same bits as the program, any source, every refusal.
#include <slipvel/slipvel.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "expected_run.hpp"
#include "run.hpp"
#include "run_output.hpp"
#include "slip_velocity.hpp"

namespace slipvel {
namespace {

using testing::split_lines;

TEST(Library, BuiltInSourceGivesTheProgramsBytes) {
  program::MemorySink fixed_run;
  program::run(fixed_run);
  const SlipFunction f = slip_function({});
  EXPECT_EQ(time_history_text(f), fixed_run.files.at("Vek_Slip.csv"));
  EXPECT_EQ(spectrum_text(spectrum(f)), fixed_run.files.at("Vek_Amp.csv"));
  check_texts(f);
  EXPECT_EQ(f.parameters.ts, 2.114 * 1.5);
  // The shape the program prints, to its 9 digits.
  EXPECT_NEAR(f.shape.tb, 0.088203027, 5e-10);
  EXPECT_NEAR(f.shape.eps, 0.0769740377, 5e-11);
  EXPECT_NEAR(f.shape.c, 0.170432712, 5e-10);
  EXPECT_NEAR(f.velocity[11], 4.0864808, 5e-8);
  EXPECT_STREQ(version(), SLIPVEL_EXPECTED_VERSION);
}

// Other sources, checked against what follows from them independently.
TEST(Library, OtherSourcesFollowTheSameRules) {
  struct Case {
    const char* why;
    Parameters p;
  };
  Parameters dt01, long_record, short_rise, jump;
  dt01.dt = 0.01;
  long_record.nt = 16384;
  long_record.dt = 0.002;
  short_rise.tr = 0.3;
  short_rise.ts = 0.5;
  short_rise.slip = 0.6;
  short_rise.nt = 1024;
  jump.slip = 1.1;  // the search's last trial is not tb: a small jump at tb
  const Case cases[] = {{"dt 0.01", dt01}, {"nt 16384", long_record}, {"short rise", short_rise}, {"1.1 m", jump}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const SlipFunction f = slip_function(c.p);
    const auto n = static_cast<std::size_t>(c.p.nt);
    ASSERT_EQ(f.velocity.size(), n);
    EXPECT_EQ(f.time.back(), static_cast<double>(c.p.nt - 1) * c.p.dt);
    EXPECT_EQ(f.velocity.back(), 0);

    // The trapezoid sum, added up in long double, and the target slip.
    long double sum = 0;
    for (std::size_t k = 1; k < n; ++k) sum += (static_cast<long double>(f.velocity[k]) + f.velocity[k - 1]) / 2;
    EXPECT_NEAR(f.displacement.back(), static_cast<double>(sum * c.p.dt), 1e-12);
    EXPECT_NEAR(f.displacement.back(), c.p.slip, 0.01 * c.p.slip);

    // The first spectrum row against a direct sum with true pi (the transform's
    // own constant differs from it by 1.3e-10 relative).
    const Spectrum s = spectrum(f);
    ASSERT_EQ(s.frequency.size(), n / 2 - 1);
    std::complex<long double> direct = 0;
    const long double pi = std::acos(-1.0L);
    for (std::size_t p = 0; p < n; ++p)
      direct += static_cast<long double>(f.velocity[p]) * std::polar(1.0L, -2 * pi * p / n);
    EXPECT_NEAR(s.frequency[0], 1 / (c.p.nt * c.p.dt), 1e-9);
    EXPECT_NEAR(s.velocity[0], c.p.dt * std::abs(direct), 1e-7 * s.velocity[0]);
    EXPECT_NEAR(s.acceleration[0], s.velocity[0] * 2 * M_PI * s.frequency[0], 1e-7 * s.acceleration[0]);

    const auto slip_rows = split_lines(time_history_text(f));
    const auto amp_rows = split_lines(spectrum_text(s));
    EXPECT_EQ(slip_rows.size(), n + 1);
    EXPECT_EQ(amp_rows.size(), n / 2);
    EXPECT_EQ(slip_rows[1], "  0.0000,      0.0000000,      0.0000000,      0.0000000");
  }
}

TEST(Library, ParametersThatCannotWorkAreRefusedWithEveryReason) {
  struct Case {
    const char* why;
    Parameters p;
    std::string message;
  };
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  auto with = [](auto change) {
    Parameters p;
    change(p);
    return p;
  };
  const Case cases[] = {
      {"negative dt", with([](Parameters& p) { p.dt = -0.005; }), "dt = -0.005: must be finite and greater than 0"},
      {"nt not a power of two", with([](Parameters& p) { p.nt = 1000; }),
       "nt = 1000: must be a power of two from 2 to 4194304"},
      {"nt too large", with([](Parameters& p) { p.nt = 8388608; }),
       "nt = 8388608: must be a power of two from 2 to 4194304"},
      {"record too short", with([](Parameters& p) { p.nt = 512; }),
       "nt = 512: the record (nt - 1)*dt = 2.555 s must reach ts = 3.171 s to hold the whole function"},
      {"several at once", with([](Parameters& p) {
         p.fmax = nan;
         p.vm = 0;
         p.slip = -inf;
         p.ts = 1.0;
       }),
       "fmax = nan: must be finite and greater than 0\nvm = 0: must be finite and greater than 0\n"
       "slip = -inf: must be finite and greater than 0\nts = 1: must be finite and greater than tr = 2.114 s"},
      {"tr before the search starts", with([](Parameters& p) {
         p.tr = 0.05;
         p.ts = 0.1;
       }),
       "tr = 0.05: must be greater than 1.01*td = 0.05358216416727505 s, where the onset search starts "
       "(td = 1/(3.141592654*fmax) = 0.05305164769037134 s)"},
      {"tr invalid, ts unset", with([](Parameters& p) { p.tr = inf; }), "tr = inf: must be finite and greater than 0"},
      {"slip too large", with([](Parameters& p) { p.slip = 8; }),
       "slip = 8: must be from 0.2894971344616258 to 7.98992276034132 m, the slips the function carries "
       "for these fmax, vm, tr and ts; vm from 4.097161009176208 to 113.07883948792352 m/s carries 8 m"},
      {"slip too small", with([](Parameters& p) { p.slip = 0.2; }),
       "slip = 0.2: must be from 0.2894971344616258 to 7.98992276034132 m, the slips the function carries "
       "for these fmax, vm, tr and ts; vm from 0.10242902522940521 to 2.8269709871980884 m/s carries 0.2 m"},
  };
  for (const Case& c : cases) {
    for (const auto& call :
         {std::function<void()>([&] { slip_function(c.p); }), std::function<void()>([&] { check_parameters(c.p); })}) {
      try {
        call();
        ADD_FAILURE() << c.why << ": accepted";
      } catch (const ParameterError& e) {
        EXPECT_EQ(e.what(), c.message) << c.why;
        // The same as data: each problem's field is the name its line starts with.
        std::string joined;
        for (const Problem& p : e.problems()) {
          EXPECT_EQ(p.text.substr(0, p.text.find(" = ")), p.field) << c.why;
          joined += (joined.empty() ? "" : "\n") + p.text;
        }
        EXPECT_EQ(joined, c.message) << c.why;
      }
    }
  }
}

TEST(Library, TextsRefuseRowsTheFixedColumnsCannotShow) {
  struct Case {
    const char* why;
    Parameters p;
    bool spectrum;
    std::string message_start;
  };
  Parameters tiny_dt, long_record, high_frequency;
  tiny_dt.dt = 0.00005;
  tiny_dt.nt = 65536;
  long_record.dt = 0.25;
  long_record.nt = 4096;
  high_frequency.dt = 0.0004;
  high_frequency.nt = 16384;
  Parameters fast;
  fast.vm = 2e7;
  fast.slip = 5e6;
  const Case cases[] = {
      {"dt below 0.0001 s", tiny_dt, false, "dt = 5e-05: the time-history file shows times to 4 decimals"},
      {"times of 1000 s", long_record, false, "(nt - 1)*dt = 1023.75: the time-history file holds times below"},
      {"frequencies of 1000 Hz", high_frequency, true, "frequency = 1249.847412109375 Hz: the spectrum file"},
      {"velocities of 10^7 m/s", fast, false, "velocity = 19973024.64161379 m/s: too wide for the time-history"},
  };
  for (const Case& c : cases) {
    const SlipFunction f = slip_function(c.p);  // the arrays have no such limit
    std::string from_text, from_check;
    try {
      c.spectrum ? spectrum_text(spectrum(f)) : time_history_text(f);
    } catch (const ParameterError& e) {
      from_text = e.what();
    }
    for (const auto& check :
         {std::function<void()>([&] { check_texts(f); }), std::function<void()>([&] { check_texts(c.p); })}) {
      try {
        check();  // the same refusal without building anything
        from_check = "";
      } catch (const ParameterError& e) {
        from_check = e.what();
      }
      EXPECT_EQ(from_check, from_text) << c.why;
    }
    EXPECT_EQ(from_text.rfind(c.message_start, 0), 0u) << c.why << ": " << from_text;
  }
}

TEST(Library, SpectrumTextRefusesRowsThatWouldShowOneFrequency) {
  Spectrum s;
  s.frequency = {0.00001, 0.00002};  // both read 0.0000 to 4 decimals
  s.velocity = s.acceleration = {1, 1};
  EXPECT_THROW(
      {
        try {
          spectrum_text(s);
        } catch (const ParameterError& e) {
          EXPECT_STREQ(e.what(),
                       "frequency = 2e-05 Hz: two rows of the spectrum file would show it; it shows "
                       "frequencies to 4 decimals, so the record nt*dt must be at most 10000 s");
          throw;
        }
      },
      ParameterError);
  s.frequency = {0.0001, 0.0002};
  EXPECT_NO_THROW(spectrum_text(s));
}

TEST(Library, FourThreadsAtOnceGetIdenticalResults) {
  const std::string expected = time_history_text(slip_function({})) + spectrum_text(spectrum(slip_function({})));
  std::string results[4];
  {
    std::jthread threads[4];
    for (int i = 0; i < 4; ++i) {
      threads[i] = std::jthread([&results, i] {
        for (int round = 0; round < 5; ++round) {
          const SlipFunction f = slip_function({});
          results[i] = time_history_text(f) + spectrum_text(spectrum(f));
        }
      });
    }
  }
  for (const std::string& r : results) EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace slipvel

namespace slipvel {
namespace {

// S(t) against a fine midpoint sum of the function's own values, at times in
// every stage; S(ts) against the target the search fitted.
TEST(Library, SlipUntilIsTheIntegralOfTheFunction) {
  struct Case {
    double fmax, vm, slip, tr;
  };
  for (const Case c :
       {Case{6, 4.092, 1.0, 2.114}, Case{6, 3, 0.8, 2.114}, Case{12, 1.5, 0.4, 0.9}, Case{1, 1, 0.5, 0.5}}) {
    Parameters p;
    p.fmax = c.fmax, p.vm = c.vm, p.slip = c.slip, p.tr = c.tr;
    const Shape s = find_shape(p);
    const double ts = stopping_time(p);
    SCOPED_TRACE(c.fmax);
    EXPECT_EQ(slip_until(s, p, -1), 0);
    EXPECT_TRUE(std::isnan(slip_until(s, p, std::nan(""))));  // not a time: not a slip
    EXPECT_EQ(slip_until(s, p, ts), slip_until(s, p, ts + 5));
    EXPECT_NEAR(slip_until(s, p, ts), c.slip, 1e-3 * c.slip);
    for (const double t : {s.td * 0.5, s.tb, (s.tb + p.tr) / 2, p.tr, (p.tr + ts) / 2, ts}) {
      const int steps = 400000;
      double sum = 0;
      for (int k = 0; k < steps; ++k) sum += detail::velocity_at(s, p, (k + 0.5) * t / steps);
      EXPECT_NEAR(slip_until(s, p, t), sum * t / steps, 2e-6 * c.slip) << "t = " << t;
    }
  }
}

// S(t) at many times: the bits of one call a time, at times in every stage,
// on each stage's boundary and beside it, and at times that are not times;
// for shapes the search finds and for one whose onset is past tr.
TEST(Library, SlipUntilAtManyTimesGivesTheBitsOfOneTimeEach) {
  struct Case {
    const char* name;
    Parameters p;
    std::optional<Shape> shape;  // unset: the one the search finds
  };
  Parameters slow;
  slow.fmax = 12, slow.vm = 1.5, slow.slip = 0.4, slow.tr = 0.9, slow.ts = 1.2;
  const Shape built_in = find_shape({});
  Shape late = built_in;
  late.tb = 2.5;  // onset after tr: the stages summed in the general way
  const Case cases[] = {{"built-in", {}, {}}, {"slow", slow, {}}, {"onset past tr", {}, late}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Shape s = c.shape ? *c.shape : find_shape(c.p);
    const double ts = stopping_time(c.p);
    std::vector<double> times = {
        0, -0.0, -1, std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (const double edge : {s.tb, c.p.tr, ts}) {
      times.insert(times.end(), {edge, std::nextafter(edge, 0.0), std::nextafter(edge, 10.0)});
    }
    for (int k = 0; k < 2000; ++k) times.push_back(k * (1.2 * ts / 2000));
    std::vector<double> slips(times.size());
    slip_until(s, c.p, times, slips);
    for (std::size_t k = 0; k < times.size(); ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(slips[k]), std::bit_cast<std::uint64_t>(slip_until(s, c.p, times[k])))
          << "t = " << times[k];
    }
    slip_until(s, c.p, times, times);  // in place
    EXPECT_EQ(std::memcmp(times.data(), slips.data(), slips.size() * sizeof(double)), 0);
  }
  std::vector<double> too_few = {7.0};
  EXPECT_THROW(slip_until(built_in, {}, std::vector<double>{1.0, 2.0}, too_few), std::length_error);
  EXPECT_EQ(too_few[0], 7.0);
}

// The two sampling rules, on their figures: fmax against 1/(2·dt), and the
// sampled slip's last value against the target within 1 %.
TEST(Library, SamplingThatFallsShortIsFoundByItsRules) {
  EXPECT_EQ(nyquist_frequency(0.005), 100);
  EXPECT_EQ(nyquist_frequency(0.1), 5);
  struct Nyquist {
    double dt, fmax;
    bool above;
  };
  for (const Nyquist c : {Nyquist{0.005, 6, false}, Nyquist{0.005, 100, false}, Nyquist{0.005, 100.00001, true},
                          Nyquist{0.1, 6, true}, Nyquist{0.1, std::nan(""), false}}) {
    Parameters p;
    p.dt = c.dt, p.fmax = c.fmax;
    EXPECT_EQ(above_nyquist(p), c.above) << "dt = " << c.dt << ", fmax = " << c.fmax;
  }
  struct Sampled {
    std::vector<double> displacement;
    double asked;
    bool coarse;
  };
  const Sampled sampled[] = {{{}, 1, false},        {{0, 1.009}, 1, false},      {{0, 0.991}, 1, false},
                             {{0, 1.011}, 1, true}, {{0, 0.5, 0.79}, 0.8, true}, {{0, std::nan("")}, 1, true}};
  for (const Sampled& c : sampled) {
    SlipFunction f;
    f.parameters.slip = c.asked;
    f.displacement = c.displacement;
    EXPECT_EQ(coarsely_sampled(f), c.coarse) << (c.displacement.empty() ? 0 : c.displacement.back());
  }
  // A real source sampled finely and coarsely: the 1 % is the sum's, not S(ts)'s.
  Parameters p;
  p.vm = 3, p.slip = 0.8;
  EXPECT_FALSE(coarsely_sampled(slip_function(p)));
  p.dt = 0.1;
  EXPECT_TRUE(coarsely_sampled(slip_function(p)));
}

}  // namespace
}  // namespace slipvel
