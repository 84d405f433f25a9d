// Uniform numbers and categories made from the raw output of
// std::mt19937_64, which the C++ standard fixes, and with nothing but
// correctly rounded arithmetic, so a seed gives the same draws on every
// machine and library (the standard's distributions are free to differ).
#pragma once

#include <random>
#include <vector>

// A number in [0, 1) from the top 53 bits of one engine output.
double unit_draw(std::mt19937_64& engine);

// Running sums of `weights`, for pick_index.
std::vector<double> cumulative_of(const std::vector<double>& weights);

// An index drawn with chances proportional to the weights whose running sums
// `cumulative` holds (at least one weight above 0): one engine output. An
// index of weight 0 is never drawn.
int pick_index(std::mt19937_64& engine, const std::vector<double>& cumulative);
