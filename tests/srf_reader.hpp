// A small reader of SRF files of its own, knowing only the format: tokens,
// counts and blocks. The tests read the programs' files back with it.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "expected_run.hpp"

namespace slipvel::testing {

inline std::vector<double> numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

struct Point {
  std::vector<double> head, second, samples;
};

// Reads the file: version, optional PLANE block, POINTS blocks. Fails the test
// on any line that does not have the format's token count.
inline std::vector<Point> read_srf(const std::string& text, const std::string& version, std::size_t planes,
                                   std::size_t blocks) {
  std::vector<std::string> lines = split_lines(text);
  EXPECT_EQ(text.back(), '\n');
  std::size_t at = 0;
  EXPECT_EQ(lines[at++], version);
  if (planes > 0) {
    EXPECT_EQ(lines[at++], "PLANE " + std::to_string(planes));
    for (std::size_t p = 0; p < planes; ++p) {
      EXPECT_EQ(numbers(lines[at++]).size(), 6u);
      EXPECT_EQ(numbers(lines[at++]).size(), 5u);
    }
  }
  std::vector<Point> points;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::istringstream header(lines[at++]);
    std::string word;
    std::size_t count = 0;
    header >> word >> count;
    EXPECT_EQ(word, "POINTS");
    for (std::size_t i = 0; i < count; ++i) {
      Point p{numbers(lines[at]), numbers(lines[at + 1]), {}};
      at += 2;
      EXPECT_EQ(p.head.size(), version == "1.0" ? 8u : 10u);
      EXPECT_EQ(p.second.size(), 7u);
      const auto nt1 = static_cast<std::size_t>(p.second[2]);
      while (p.samples.size() < nt1) {
        const std::vector<double> row = numbers(lines[at++]);
        EXPECT_EQ(row.size(), std::min<std::size_t>(6, nt1 - p.samples.size()));
        p.samples.insert(p.samples.end(), row.begin(), row.end());
      }
      points.push_back(std::move(p));
    }
  }
  EXPECT_EQ(at, lines.size());
  return points;
}

}  // namespace slipvel::testing
