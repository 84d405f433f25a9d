// The rule count file rule_count_file(output_name): twelve values, one
// per line. The miner writes it with its own figures; validation replaces it
// with the figures of the kept rules, writing 0 for the values it has none of.
//   1 rules (or patterns) tested   2 level   3 FDR p-value threshold
//   4 max_local_pvalue   5 min_diff   6 significant at the level
//   7 at the corrected level   8 under the FDR   9 patterns within the level
//   10 items   11 longest rule   12 always 0
// Integers are plain decimal; reals as the writer's caller states (RealDigits).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stats/significance.h"

// Reads the twelve values from `file` (opened for reading by the caller) into
// `counts` and closes the file. Reading stops at the first value that is
// missing, malformed or an integer beyond 32 bits: its field and every later
// one keep what they held. `corrected_level` is set together with `level`,
// from the count read before it (a count of 0 gives an infinite level).
void read_rule_count(std::FILE* file, RuleCountRecord& counts);

// The twelve values of the file, in file order.
struct RuleCountFile {
  uint64_t tested = 0;
  double level = 0.0;
  double fdr_pvalue = 0.0;
  double max_local_pvalue = 0.0;
  double min_diff = 0.0;
  int32_t sig_at_level = 0;
  int32_t sig_at_corrected = 0;
  int32_t sig_at_fdr = 0;
  uint64_t within_level = 0;
  int64_t items = 0;
  int64_t longest_rule = 0;
};

// How the reals are written. Each program keeps the text it has always
// written: validation six significant digits, as printf's "%g"; the miner
// every digit, as "%.17g", so that its levels read back exactly.
enum class RealDigits { six, all };

// Creates or truncates `path` with `values`. Returns false after an "Error: "
// line when the file cannot be opened or written: the driver reads it back
// for its report, and a silent failure would pass zeros off as results.
bool write_rule_count_file(const std::string& path, const RuleCountFile& values, RealDigits digits);
