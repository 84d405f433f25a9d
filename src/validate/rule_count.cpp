// Reader and writer of the rule count file.
#include "validate/rule_count.h"

void read_rule_count(std::FILE* file, RuleCountRecord& counts) {
  int rules_tested = 0;
  double level = counts.level;
  double ignored = 0.0;
  int ignored_count = 0;
  const bool have_rules = std::fscanf(file, "%d", &rules_tested) == 1;
  if (std::fscanf(file, "%lf", &level) == 1) {
    counts.level = level;
    // With no readable count the corrected level stays as it was: a
    // missing divisor is no reason to report an infinite level.
    if (have_rules) counts.corrected_level = level / static_cast<double>(rules_tested);
  }
  if (std::fscanf(file, "%lf", &counts.fdr_pvalue) == 1 && std::fscanf(file, "%lf", &ignored) == 1 &&
      std::fscanf(file, "%lf", &ignored) == 1 && std::fscanf(file, "%d", &counts.sig_at_level) == 1 &&
      std::fscanf(file, "%d", &counts.sig_at_corrected) == 1 &&
      std::fscanf(file, "%d", &counts.sig_at_fdr) == 1) {
    for (int i = 0; i < 4 && std::fscanf(file, "%d", &ignored_count) == 1; ++i) {
    }
  }
  std::fclose(file);
}

void write_rule_count(const std::string& prefix, int32_t rules_tested, double level,
                      const RuleCountRecord& counts) {
  const std::string path = prefix + ".rulenum.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return;
  std::fprintf(file, "%d\n%g\n%g\n0\n0\n%d\n%d\n%d\n0\n0\n0\n0\n", rules_tested, level,
               counts.fdr_pvalue, counts.sig_at_level, counts.sig_at_corrected, counts.sig_at_fdr);
  std::fclose(file);
}
