// The rule count file "<output_name>.sorted.rulenum.txt": twelve values, one per line.
//   1 rules tested (int)   2 level   3 FDR p-value threshold   4, 5 reals (0 here)
//   6 significant at the level   7 at the corrected level   8 under the FDR
//   9..12 ints (0 here)
// Reals are written in printf's "%g" style, integers in plain decimal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct RuleCountRecord {
  double level = 0.0;
  double corrected_level = 0.0;  // level / rules tested, computed by the reader
  double fdr_pvalue = 0.0;
  int32_t sig_at_level = 0;
  int32_t sig_at_corrected = 0;
  int32_t sig_at_fdr = 0;
};

// Reads the twelve values from `file` (opened for reading by the caller) into
// `counts` and closes the file. Reading stops at the first value that is
// missing, malformed or an integer beyond 32 bits: its field and every later
// one keep what they held. `corrected_level` is set together with `level`,
// from the count read before it (a count of 0 gives an infinite level).
void read_rule_count(std::FILE* file, RuleCountRecord& counts);

// Creates or truncates the rule count file of `output_name` with `rules_tested`, `level` and
// the counts' FDR threshold and three significance counts. A file that cannot
// be opened or written is reported as an "Error: " line.
void write_rule_count(const std::string& output_name, int32_t rules_tested, double level,
                      const RuleCountRecord& counts);
