// Draws from the raw engine output.
#include "random_draws.h"

double unit_draw(std::mt19937_64& engine) {
  return static_cast<double>(engine() >> 11) * 0x1.0p-53;
}

std::vector<double> cumulative_of(const std::vector<double>& weights) {
  std::vector<double> cumulative;
  double sum = 0.0;
  for (const double weight : weights) cumulative.push_back(sum += weight);
  return cumulative;
}

int pick_index(std::mt19937_64& engine, const std::vector<double>& cumulative) {
  const double x = unit_draw(engine) * cumulative.back();
  int last_positive = 0;
  for (size_t i = 0; i < cumulative.size(); ++i) {
    if (x < cumulative[i]) return static_cast<int>(i);
    if (cumulative[i] > (i > 0 ? cumulative[i - 1] : 0.0)) last_positive = static_cast<int>(i);
  }
  // The product can round up to the total.
  return last_positive;
}
