// Writer of the validated rules file and tid-list file, followed by the rule
// count file.
#include "validate/validated_output.h"

#include <algorithm>
#include <cstdio>

#include "common/file_open.h"
#include "common/number_writer.h"
#include "common/run_files.h"

void write_validated_rules(const std::string& output_name, std::span<const KeptRule> kept,
                           const MergedTids& merged_tids, const RuleCountRecord& counts,
                           int32_t rules_tested, double level) {
  const std::string tidlist_path = validated_tidlist_file(output_name);
  const std::string rules_path = rule_file(output_name);
  NumberWriter tidlists{open_for_write(tidlist_path), {}, true};
  NumberWriter rules{open_for_write(rules_path), {}, true};
  std::vector<int32_t> tids;
  for (const KeptRule& rule : kept) {
    const RuleRecord& mined = *rule.mined;
    if (rules.file != nullptr) {
      put_int(rules, mined.length);
      put_text(rules, " ");
      for (int32_t i = 0; i < mined.length; ++i) {
        put_int(rules, mined.items[i]);
        put_text(rules, " ");
      }
      // Of the four reals only the test p-value carries a value.
      put_text(rules, "0 ");
      put_real(rules, rule.test.pvalue);
      put_text(rules, " 0 0 \n");
    }
    if (tidlists.file != nullptr) {
      put_int(tidlists, static_cast<int64_t>(mined.support) + rule.test.covered);
      put_text(tidlists, " ");
      put_int(tidlists, static_cast<int64_t>(mined.class_support) + rule.test.covered_in_class);
      put_text(tidlists, " ");
      tids.clear();
      merged_tids(mined, tids);
      for (const int32_t tid : tids) {
        put_int(tidlists, tid);
        put_text(tidlists, " ");
      }
      put_text(tidlists, "\n");
    }
  }
  if (rules.file != nullptr) close_written(rules.file, rules_path, flush_numbers(rules));
  if (tidlists.file != nullptr) close_written(tidlists.file, tidlist_path, flush_numbers(tidlists));
  RuleCountFile values;
  values.tested = static_cast<uint64_t>(std::max(rules_tested, 0));
  values.level = level;
  values.fdr_pvalue = counts.fdr_pvalue;
  values.sig_at_level = counts.sig_at_level;
  values.sig_at_corrected = counts.sig_at_corrected;
  values.sig_at_fdr = counts.sig_at_fdr;
  write_rule_count_file(rule_count_file(output_name), values, RealDigits::six);
}
