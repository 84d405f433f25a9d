// Writer of the validated rules file and tid-list file, followed by the rule
// count file.
#include "validate/validated_output.h"

#include <cstdio>

#include "common/file_open.h"
#include "common/run_files.h"

void write_validated_rules(const std::string& output_name, const ValidatedRules& kept,
                           const RuleCountRecord& counts, int32_t rules_tested, double level) {
  const std::string tidlist_path = validated_tidlist_file(output_name);
  const std::string rules_path = rule_file(output_name);
  std::FILE* tidlist_file = open_for_write(tidlist_path);
  std::FILE* rules_file = open_for_write(rules_path);
  for (const RuleRecord& rule : kept.records) {
    if (rules_file != nullptr) {
      std::fprintf(rules_file, "%d ", rule.length);
      for (int32_t i = 0; i < rule.length; ++i) std::fprintf(rules_file, "%d ", rule.items[i]);
      // Of the four reals only the test p-value carries a value.
      std::fprintf(rules_file, "%g %g %g %g \n", 0.0, rule.pvalue, 0.0, 0.0);
    }
    if (tidlist_file != nullptr) {
      std::fprintf(tidlist_file, "%d %d ", rule.support, rule.class_support);
      for (int32_t i = 0; i < rule.support; ++i) std::fprintf(tidlist_file, "%d ", rule.tid_list[i]);
      std::fputc('\n', tidlist_file);
    }
  }
  if (rules_file != nullptr) close_written(rules_file, rules_path);
  if (tidlist_file != nullptr) close_written(tidlist_file, tidlist_path);
  write_rule_count(output_name, rules_tested, level, counts);
}
