#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <slipvel/text.hpp>
#include "number_text.hpp"

namespace slipvel::detail {
namespace {

using namespace slipvel::text;

struct Case {
  double value;
  const char* text;
};

TEST(RealItem, Table) {
  const Case cases[] = {
      {0.005, "  0.005"},
      {4.092, "  4.092"},
      {6, "  6."},
      {4096, "  4096."},
      {3.141592654, "  3.14159265"},
      {18.849555924, "  18.8495559"},
      {1 / 18.849555924, "  0.0530516477"},
      {0.0001, "  0.0001"},
      {0.00012345678912, "  0.000123456789"},
      {123456789, "  123456789."},
      {100.00000001591549, "  100."},
      {0, "  0."},
      {-0.0, "  0."},
      {-0.25, " -0.25"},
      {2.5e9, "  2.5E+09"},
      {0.00001, "  1.E-05"},
      {999999999.7, "  1.E+09"},  // rounds up into the E form
      {999999999.4, "  999999999."},
      {-1.5e-300, " -1.5E-300"},
      {9.999999996, "  10."},  // carry adds a digit
      {154.264765682016, "  154.264766"},
      {std::numeric_limits<double>::quiet_NaN(), "  NaN"},
      {-std::numeric_limits<double>::infinity(), " -Infinity"},
  };
  for (const Case& c : cases) EXPECT_EQ(real_item(c.value), c.text) << c.value;
}

TEST(IntegerItem, SignAndMeasuredDigits) {
  EXPECT_EQ(integer_item(4096), " 4096");
  EXPECT_EQ(integer_item(-7), " -7");
  EXPECT_EQ(integer_item(0), " 0");
  EXPECT_EQ(integer_item_digits(-2147483647 - 1), 10u);
  EXPECT_EQ(integer_item_digits(-7), 1u);
}

TEST(FixedField, EightFour) {
  const Case cases[] = {
      {0, "  0.0000"},           {0.005, "  0.0050"},
      {0.048828125, "  0.0488"}, {0.78126, "  0.7813"},
      {12.5, " 12.5000"},        {20.475, " 20.4750"},
      {-0.5, " -0.5000"},        {-0.00001, "  0.0000"},
      {-0.0, "  0.0000"},        {-99.99994, "-99.9999"},
      {999.9999, "999.9999"},    {999.99995, "********"},
      {1000, "********"},        {-100, "********"},
      {-99.99996, "********"},   {0.03125, "  0.0312"},  // a tie goes to the even digit
      {0.09375, "  0.0938"},     {std::numeric_limits<double>::quiet_NaN(), "     NaN"},
  };
  for (const Case& c : cases) EXPECT_EQ(fixed_field(c.value, 8, 4), c.text) << c.value;
}

TEST(FixedField, FifteenSeven) {
  const Case cases[] = {
      {1.234, "      1.2340000"},
      {-1.5, "     -1.5000000"},
      {0.243249097402296, "      0.2432491"},
      {-0.00000004, "      0.0000000"},
      {9999999.9999999, "9999999.9999999"},
      {10000000, "***************"},
      {-999999.99999994, "-999999.9999999"},
      {-1000000, "***************"},
      {146.99520990, "    146.9952099"},
      {1e300, "***************"},
  };
  for (const Case& c : cases) EXPECT_EQ(fixed_field(c.value, 15, 7), c.text) << c.value;
}

TEST(FixedField, LeadingZeroDroppedWhenThatAloneFits) {
  EXPECT_EQ(fixed_field(0.5, 5, 4), ".5000");
  EXPECT_EQ(fixed_field(-0.5, 6, 4), "-.5000");
  EXPECT_EQ(fixed_field(0.5, 4, 4), "****");
}

TEST(ExponentField, TwelveFour) {
  const Case cases[] = {
      {0, "  0.0000E+00"},
      {-0.0, "  0.0000E+00"},
      {1, "  0.1000E+01"},
      {123.456, "  0.1235E+03"},
      {0.99999, "  0.1000E+01"},
      {9.99995, "  0.1000E+02"},
      {-0.5, " -0.5000E+00"},
      {-0.000123456, " -0.1235E-03"},
      {1e-150, "  0.1000-149"},
      {1e150, "  0.1000+151"},
      {-1e-300, " -0.1000-299"},
      {12345, "  0.1234E+05"},
      {12355, "  0.1236E+05"},
      {4.9406564584124654e-324, "  0.4941-323"},
      {1.7976931348623157e308, "  0.1798+309"},
      {std::numeric_limits<double>::infinity(), "    Infinity"},
  };
  for (const Case& c : cases) EXPECT_EQ(exponent_field(c.value, 12, 4), c.text) << c.value;
}

TEST(ExponentField, ExactlyFullAndTooNarrow) {
  EXPECT_EQ(exponent_field(0.5, 9, 4), ".5000E+00");
  EXPECT_EQ(exponent_field(-0.5, 10, 4), "-.5000E+00");
  EXPECT_EQ(exponent_field(-0.5, 9, 4), "*********");
}

TEST(FreeLine, WorkedLines) {
  struct LineCase {
    std::string text;
    const char* expected;
  };
  const LineCase cases[] = {
      {free_line({}), "\n"},
      {free_line({"dt,nt = ", 0.005, 4096}), " dt,nt =   0.005 4096\n"},
      {free_line({"fmax,vm,slip = ", 6.0, 4.092, 1.0}), " fmax,vm,slip =   6.  4.092  1.\n"},
      {free_line({" Slip functions are stored in Vek_Slip.csv"}), "  Slip functions are stored in Vek_Slip.csv\n"},
      {free_line({"Am,tb,b,c,ar,eps =", 154.264765682016, 0.0882030270277151, 0.243249097402296, 0.170432712241917,
                  0.16124192265082, 0.0769740377027634}),
       " Am,tb,b,c,ar,eps =  154.264766  0.088203027  0.243249097  0.170432712\n"
       "  0.161241923  0.0769740377\n"},
      {free_line({" DUR,DOM,NOM,EOM=", 20.48, 0.3067961576171875, 2048, 628.3185308}),
       "  DUR,DOM,NOM,EOM=  20.48  0.306796158 2048  628.318531\n"},
      {free_line({"a", "b", 7}), " ab 7\n"},  // a text behind an item gets no blank
  };
  for (const LineCase& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(FreeLine, WrapsWhenAnItemWouldReachEighty) {
  const std::string label(70, 'x');  // with its blank the line is at 71
  // An integer measures its digits only: 71 + 8 = 79 stays, 71 + 9 = 80 moves.
  EXPECT_EQ(free_line({label, 12345678}), " " + label + " 12345678\n");
  EXPECT_EQ(free_line({label, 123456789}), " " + label + "\n 123456789\n");
  // A text item moved to a new line opens it, so it gets its blank.
  EXPECT_EQ(free_line({label, "123456789"}), " " + label + "\n 123456789\n");
  EXPECT_EQ(free_line({label, "12345678"}), " " + label + "12345678\n");
  // An item at the start of a line is never moved, however long.
  const std::string wide(100, 'y');
  EXPECT_EQ(free_line({wide}), " " + wide + "\n");
}

}  // namespace
}  // namespace slipvel::detail
