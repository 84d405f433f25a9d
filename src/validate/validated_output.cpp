// Writer of the validated rules file and tid-list file, followed by the rule
// count file.
#include "validate/validated_output.h"

#include <cstdio>

namespace {

std::FILE* create_output(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) std::printf("Error: cannot open file %s for write\n", path.c_str());
  return file;
}

void close_output(std::FILE* file, const std::string& path) {
  if (file != nullptr && std::fclose(file) != 0) {
    std::printf("Error: cannot write file %s\n", path.c_str());
  }
}

}  // namespace

void write_validated_rules(const std::string& prefix, const ValidatedRules& kept,
                           const RuleCountRecord& counts, int32_t rules_tested, double level) {
  const std::string tidlist_path = prefix + ".tidlist.txt";
  const std::string rules_path = prefix + ".rules.txt";
  std::FILE* tidlist_file = create_output(tidlist_path);
  std::FILE* rules_file = create_output(rules_path);
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
  close_output(rules_file, rules_path);
  close_output(tidlist_file, tidlist_path);
  write_rule_count(prefix, rules_tested, level, counts);
}
