// Which patterns can be significant at all: a pattern of support s cannot
// reach a p-value below the smallest one any class count allows at that
// support, so it need not be paid for by a correction at a level below that
// value (Tarone's argument). The corrected level counts only the patterns
// that could pass it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "stats/fisher.h"

struct TaroneLevel {
  double level = 0.0;     // the corrected level
  uint64_t testable = 0;  // patterns counted whose smallest p-value is within it, m(level)
  // 0 when no support below the count's minimum support could reach the
  // level; else the smallest such support, from which the patterns must be
  // counted again.
  int32_t lower_support = 0;
};

// The largest level d with d * m(d) <= `level`, where m(d) is the number of
// patterns in `patterns_by_support` (entry s: patterns of support s, all of
// support >= `min_sup`) whose smallest attainable p-value is within d:
// `level` / m(d) where that is below the next smallest attainable p-value,
// else the largest number below it. A level d counts as within d * m <= level
// when d <= level / m in floating point, the way the level of the
// Bonferroni correction is computed, so that it is never below level /
// (every pattern counted). With no pattern counted, `level` itself.
// `min_pvalues` from min_attainable_pvalues.
TaroneLevel tarone_level(const std::vector<uint64_t>& patterns_by_support,
                         const std::vector<double>& min_pvalues, double level, int32_t min_sup);

// 0 when no support from 1 to `min_sup` - 1 has a smallest attainable
// p-value within `level`; else the lowest that has: patterns of that support
// could reach the level, though none of them was counted.
int32_t lowest_support_reaching(const std::vector<double>& min_pvalues, double level,
                                int32_t min_sup);

// Counts the patterns of support >= `min_sup` into `patterns_by_support`
// (entry s: patterns of support s), as the search tested them; false after
// an "Error: " line.
using CountBySupport =
    std::function<bool(int32_t min_sup, std::vector<uint64_t>& patterns_by_support)>;

struct TaroneSearch {
  TaroneLevel level;                          // with lower_support 0
  int32_t min_sup = 0;                        // the minimum support of the final count
  std::vector<uint64_t> patterns_by_support;  // that count
  int32_t recounts = 0;                       // calls of the count
};

// Tarone's level with the minimum support lowered until no support left out
// of the count could reach the level: starts from `patterns_by_support`,
// counted at `min_sup`, and counts again, through `count`, from the lower
// support tarone_level names, until it names none. Each count lowers the
// support, so this ends; lowering it once is enough, since the level can
// only fall with more patterns counted. Returns false when a count fails.
bool search_tarone_level(std::vector<uint64_t> patterns_by_support,
                         const std::vector<double>& min_pvalues, double level, int32_t min_sup,
                         const CountBySupport& count, TaroneSearch& out);
