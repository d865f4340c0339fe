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

// The file as it is laid out: its version, its PLANE block's planes (each
// line's numbers) and its POINTS blocks.
struct SrfFile {
  std::string version;
  std::vector<std::vector<double>> planes;
  std::vector<std::vector<Point>> blocks;
};

// Reads whatever layout the file has. Fails the test on any line that does
// not have the format's token count.
inline SrfFile read_srf_file(const std::string& text) {
  SrfFile file;
  std::vector<std::string> lines = split_lines(text);
  EXPECT_EQ(text.back(), '\n');
  std::size_t at = 0;
  file.version = lines[at++];
  EXPECT_TRUE(file.version == "1.0" || file.version == "2.0") << file.version;
  if (lines[at].starts_with("PLANE ")) {
    const auto planes = static_cast<std::size_t>(std::stoul(lines[at++].substr(6)));
    for (std::size_t p = 0; p < planes; ++p) {
      std::vector<double> plane = numbers(lines[at++]), second = numbers(lines[at++]);
      EXPECT_EQ(plane.size(), 6u);
      EXPECT_EQ(second.size(), 5u);
      plane.insert(plane.end(), second.begin(), second.end());
      file.planes.push_back(plane);
    }
  }
  while (at < lines.size()) {
    std::istringstream header(lines[at++]);
    std::string word;
    std::size_t count = 0;
    header >> word >> count;
    EXPECT_EQ(word, "POINTS");
    file.blocks.emplace_back();
    for (std::size_t i = 0; i < count; ++i) {
      Point p{numbers(lines[at]), numbers(lines[at + 1]), {}};
      at += 2;
      EXPECT_EQ(p.head.size(), file.version == "1.0" ? 8u : 10u);
      EXPECT_EQ(p.second.size(), 7u);
      const auto nt1 = static_cast<std::size_t>(p.second[2]);
      while (p.samples.size() < nt1) {
        const std::vector<double> row = numbers(lines[at++]);
        EXPECT_EQ(row.size(), std::min<std::size_t>(6, nt1 - p.samples.size()));
        p.samples.insert(p.samples.end(), row.begin(), row.end());
      }
      file.blocks.back().push_back(std::move(p));
    }
  }
  return file;
}

// Reads the file, expecting this version, this many planes (0: no PLANE
// block) and POINTS blocks, and returns every point in file order.
inline std::vector<Point> read_srf(const std::string& text, const std::string& version, std::size_t planes,
                                   std::size_t blocks) {
  const SrfFile file = read_srf_file(text);
  EXPECT_EQ(file.version, version);
  EXPECT_EQ(file.planes.size(), planes);
  EXPECT_EQ(file.blocks.size(), blocks);
  std::vector<Point> points;
  for (const auto& block : file.blocks) points.insert(points.end(), block.begin(), block.end());
  return points;
}

}  // namespace slipvel::testing
