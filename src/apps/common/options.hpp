// What the programs' command lines share: exit statuses and option values
// read by the tables' number rules. Needs CLI11.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "common/table.hpp"

namespace slipvel::apps {

constexpr int kWriteFailed = 1;   // a file could not be written
constexpr int kUsageOrInput = 2;  // bad options, a bad table, parameters that cannot work

// Options take numbers by the tables' rules: one decimal grammar everywhere.
inline const CLI::Validator kDecimal(
    [](std::string& text) -> std::string {
      double value = 0;
      if (parse_number(text, value) == Parsed::kNotANumber) {
        return "\"" + text + "\" is not a decimal number (sign, digits, point, exponent; no hex, inf or nan)";
      }
      return "";
    },
    "", "decimal");

// A whole number is handed on without its leading zeros, which CLI11 would
// read as octal.
inline const CLI::Validator kWhole(
    [](std::string& text) -> std::string {
      int value = 0;
      const Parsed why = parse_integer(text, value);
      if (why == Parsed::kNotANumber) return "\"" + text + "\" is not a whole decimal number";
      if (why == Parsed::kOutOfRange) return "\"" + text + "\" is beyond the range of whole numbers";
      text = std::to_string(value);
      return "";
    },
    "", "whole");

// "1", "1.0", "2", "2.0", handed on as "1.0" or "2.0".
inline const CLI::Validator kSrfVersion(
    [](std::string& text) -> std::string {
      if (text == "1" || text == "1.0")
        text = "1.0";
      else if (text == "2" || text == "2.0")
        text = "2.0";
      else
        return "\"" + text + "\" is not an SRF version: 1.0 (or 1) or 2.0 (or 2)";
      return "";
    },
    "", "version");

// "per-plane" or "one": how an SRF file groups its points into POINTS blocks.
inline const CLI::Validator kSrfBlocks(
    [](std::string& text) -> std::string {
      if (text == "per-plane" || text == "one") return "";
      return "\"" + text + "\" is not a POINTS block layout: per-plane (one block per plane in a 2.0 file) or one";
    },
    "", "blocks");

}  // namespace slipvel::apps
