// The slips a source carries: the printed range is exactly the accepted set,
// accepted functions hold only finite numbers, and refusals end quickly.
#include <slipvel/slipvel.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <slipvel/text.hpp>

#include "slip_range.hpp"

namespace slipvel {
namespace {

using detail::SlipInterval;
using text::shortest;

bool accepted(const Parameters& p) {
  try {
    check_parameters(p);
    return true;
  } catch (const ParameterError&) {
    return false;
  }
}

Parameters with_slip(Parameters p, double slip) {
  p.slip = slip;
  return p;
}

Parameters with_vm(Parameters p, double vm) {
  p.vm = vm;
  return p;
}

Parameters source_of(double fmax, double vm, double tr, double slip) {
  Parameters p;
  p.fmax = fmax, p.vm = vm, p.tr = tr, p.slip = slip;
  return p;
}

std::string refusal(const Parameters& p) {
  try {
    check_parameters(p);
  } catch (const ParameterError& e) {
    return e.what();
  }
  return "accepted";
}

bool all_finite(const std::vector<double>& values) {
  for (const double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// Every column of the function and its spectrum.
void expect_finite_outputs(const Parameters& p) {
  const SlipFunction f = slip_function(p);
  const Spectrum s = spectrum(f);
  for (const auto* column : {&f.velocity, &f.displacement, &f.acceleration, &s.velocity, &s.acceleration}) {
    EXPECT_TRUE(all_finite(*column)) << "fmax " << p.fmax << " vm " << p.vm << " tr " << p.tr << " slip " << p.slip;
  }
}

TEST(SlipRange, TheReportedSourcesAreRefusedWithTheTruth) {
  struct Case {
    const char* why;
    Parameters p;
    std::string message;
  };
  const Case cases[] = {
      {"its search keeps eps > tb: not a number in the function",
       source_of(0.95732806999, 2.3081791955088495, 2.3136798512818584, 1.0232873208254252),
       "slip = 1.0232873208254252: must be from 1.023290694006767 to 6.040550552201549 m, the slips the function "
       "carries for these fmax, vm, tr and ts; vm from 0.39101245566042037 to 2.3081715868136454 m/s carries "
       "1.0232873208254252 m"},
      {"tr < 2*td: trials past tr send every target but the first trial's slip astray",
       source_of(6.916205870408372, 2.2896459619181417, 0.06033229126832222, 0.135),
       "slip = 0.135: must be 0.13724097021165163 m, the only slip the function carries for these fmax, vm, tr "
       "and ts"},
      {"the lower end printed before", source_of(1, 1, 0.5, 0.45843859081596516),
       "slip = 0.45843859081596516: must be from 0.45982576127132807 to 0.5164974269272878 m, the slips the "
       "function carries for these fmax, vm, tr and ts; vm from 0.8875912384370965 to 0.9969832693768013 m/s "
       "carries 0.45843859081596516 m"},
      {"a search too coarse for td: nothing is carried", source_of(1e9, 4.092, 2.114, 1),
       "slip = 1: the function carries no slip for these fmax, vm, tr and ts: no onset the search reaches, "
       "stepping by td = 3.1830988614222803e-10 s and halving down to 1e-05 s, gives a sound function within 1 % "
       "of its target"},
      {"slips so small that the search's products of two residuals round to 0", source_of(6, 1e-200, 2.114, 1e-200),
       "slip = 1e-200: must be at least 1e-140 m: the onset search's arithmetic fails on smaller slips"},
  };
  for (const Case& c : cases) EXPECT_EQ(refusal(c.p), c.message) << c.why;
}

// For random sources, every slip strictly inside a carried interval (by one
// part in 1e9) is accepted and every slip outside all of them refused; the
// message prints the intervals, the vm range it gives carries the slip at
// both ends, and accepted functions hold finite numbers only.
TEST(SlipRange, RandomSourcesAcceptExactlyWhatTheMessagePrints) {
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> unit(0, 1);
  const double in = 1e-9;
  int one_interval = 0;
  // Two sources once reported, then random ones.
  const double reported[][3] = {{0.95732806999, 2.3081791955088495, 2.3136798512818584}, {1, 1, 0.5}};
  for (int n = -2; n < 300; ++n) {
    Parameters p;
    p.fmax = std::exp(std::log(0.2) + unit(random) * std::log(60 / 0.2));
    p.vm = 0.05 + 5 * unit(random);
    p.tr = peak_time(p.fmax) * (1.02 + 40 * unit(random) * unit(random));
    if (n < 0) p.fmax = reported[n + 2][0], p.vm = reported[n + 2][1], p.tr = reported[n + 2][2];
    const double td = peak_time(p.fmax);
    if (n % 2 == 1) p.ts = p.tr * (1.05 + unit(random));
    p.nt = 1024;
    p.dt = stopping_time(p) / 600;  // a record that holds the whole function
    Parameters resolved = p;
    resolved.ts = stopping_time(p);
    const std::vector<SlipInterval> carried = detail::carried_slips(resolved);
    SCOPED_TRACE("fmax " + shortest(p.fmax) + " vm " + shortest(p.vm) + " tr " + shortest(p.tr));
    if (carried.empty()) {
      EXPECT_FALSE(accepted(with_slip(p, p.vm * td)));
      continue;
    }
    for (const SlipInterval& i : carried) {
      EXPECT_FALSE(accepted(with_slip(p, i.low * (1 - in))));
      EXPECT_FALSE(accepted(with_slip(p, i.high * (1 + in))));
      if (i.low == i.high) continue;
      for (const double slip : {i.low * (1 + in), i.high * (1 - in), i.low + (i.high - i.low) * unit(random)}) {
        EXPECT_TRUE(accepted(with_slip(p, slip))) << shortest(slip);
      }
      expect_finite_outputs(with_slip(p, i.low + (i.high - i.low) * unit(random)));
    }
    if (carried.size() > 1) {
      EXPECT_NE(refusal(with_slip(p, carried.front().low / 2)).find("are not one interval"), std::string::npos);
      continue;
    }
    const SlipInterval only = carried.front();
    const Parameters below = with_slip(p, only.low / 2);
    if (only.low == only.high) {  // the first trial's slip alone
      EXPECT_TRUE(accepted(with_slip(p, only.low)));
      EXPECT_EQ(refusal(below), "slip = " + shortest(below.slip) + ": must be " + shortest(only.low) +
                                    " m, the only slip the function carries for these fmax, vm, tr and ts");
      continue;
    }
    ++one_interval;
    EXPECT_EQ(refusal(below),
              "slip = " + shortest(below.slip) + ": must be from " + shortest(only.low) + " to " + shortest(only.high) +
                  " m, the slips the function carries for these fmax, vm, tr and ts; vm from " +
                  shortest(p.vm * (below.slip / only.high)) + " to " + shortest(p.vm * (below.slip / only.low)) +
                  " m/s carries " + shortest(below.slip) + " m");
    for (const double target : {only.low / 2, only.high * 2}) {
      EXPECT_TRUE(accepted(with_vm(with_slip(p, target), p.vm * (target / only.high) * (1 + in))));
      EXPECT_TRUE(accepted(with_vm(with_slip(p, target), p.vm * (target / only.low) * (1 - in))));
    }
  }
  EXPECT_GT(one_interval, 250);
}

TEST(SlipRange, RefusalsTakeABoundedNumberOfTrials) {
  struct Case {
    double fmax, slip;
    long most_trials;
  };
  const Case cases[] = {
      {1e9, 1, 100}, {1e9, 1e-9, 100},  {1e9, 1e-12, 100}, {1e8, 1, 100}, {1e8, 1e-8, 100}, {1e8, 1e-12, 100},
      {1e5, 1, 100}, {1e5, 1e-12, 100}, {2e4, 1e-4, 100},  {6, 8, 10000}, {6, 0.2, 10000},  {0.01, 1, 10000},
  };
  for (const Case& c : cases) {
    Parameters p = source_of(c.fmax, 4.092, 2.114, c.slip);
    if (c.fmax < 1) p.tr = 1000;
    p.ts = stopping_time(p);
    long trials = 0;
    EXPECT_THROW(detail::carrying_shape(p, [&](double, double) { ++trials; }), ParameterError);
    EXPECT_LE(trials, c.most_trials) << "fmax " << c.fmax << " slip " << c.slip;
  }
}

}  // namespace
}  // namespace slipvel
