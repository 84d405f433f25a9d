// Reading and writing numbers for the numeric attributes of a data set.
#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

bool parse_number(std::string_view text, double& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  // from_chars takes no leading '+', which data files do use.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, value);
  return failure == std::errc() && stop == end && std::isfinite(value);
}

std::string format_number(double value) {
  if (value == 0) value = 0;  // no "-0" label
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

double cut_between(double low, double high) {
  // Halves first: no overflow near the limits of a double.
  const double middle = low / 2 + high / 2;
  const double tolerance = high / 10 - low / 10;
  for (int digits = 1; digits <= 17; ++digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, middle);
    const double rounded = std::strtod(buffer, nullptr);
    if (low < rounded && rounded < high && std::fabs(rounded - middle) <= tolerance) {
      return rounded;
    }
  }
  return high;
}
