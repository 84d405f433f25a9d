// Writer of the validated rules file and tid-list file, followed by the rule
// count file. The tid-list lines come in the order the miner's tree gives
// them, so each is written at a place worked out beforehand from the bytes
// its lists take.
#include "validate/validated_output.h"

#include <algorithm>
#include <cstdio>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"

namespace {

int64_t total_support(const KeptRule& rule) {
  return static_cast<int64_t>(rule.mined->support) + rule.test.covered;
}

int64_t total_class_support(const KeptRule& rule) {
  return static_cast<int64_t>(rule.mined->class_support) + rule.test.covered_in_class;
}

// Where each line starts, and the end of the file as the last entry.
std::vector<int64_t> line_starts(std::span<const KeptRule> kept) {
  std::vector<int64_t> starts(kept.size() + 1, 0);
  for (size_t j = 0; j < kept.size(); ++j) {
    const KeptRule& rule = kept[j];
    starts[j + 1] = starts[j] + int_text_bytes(total_support(rule)) +
                    int_text_bytes(total_class_support(rule)) + rule.tids_text_bytes + 1;
  }
  return starts;
}

void write_rules_file(const std::string& path, std::span<const KeptRule> kept) {
  BlockWriter out;
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  start_block_writer(out, file);
  for (const KeptRule& rule : kept) {
    const RuleRecord& mined = *rule.mined;
    put_int(out, mined.length);
    put_ints(out, std::span<const int32_t>(mined.items, static_cast<size_t>(mined.length)));
    // Of the four reals only the test p-value carries a value.
    put_text(out, "0 ");
    put_real(out, rule.test.pvalue);
    put_text(out, "0 0 \n");
  }
  close_written(file, path, flush_block(out));
}

}  // namespace

void write_validated_rules(const std::string& output_name, std::span<const KeptRule> kept,
                           const KeptListWalk& walk, const CoveredText& covered,
                           const RuleCountRecord& counts, int32_t rules_tested, double level) {
  const std::string tidlist_path = validated_tidlist_file(output_name);
  std::FILE* file = open_for_write(tidlist_path);
  write_rules_file(rule_file(output_name), kept);
  if (file != nullptr) {
    BlockWriter out;
    start_block_writer(out, file);
    const std::vector<int64_t> starts = line_starts(kept);
    reserve_file_space(fileno(file), starts.back());
    std::vector<bool> written(kept.size(), false);
    bool lengths_agree = true;
    auto write_line = [&](size_t j, std::span<const int32_t> mined) {
      const KeptRule& rule = kept[j];
      move_to(out, starts[j]);
      put_int(out, total_support(rule));
      put_int(out, total_class_support(rule));
      put_ascending_ints_padded(out, mined, static_cast<size_t>(std::max(rule.mined->support, 0)));
      covered(*rule.mined, out);
      put_text(out, "\n");
      written[j] = true;
      lengths_agree &= block_writer_offset(out) == starts[j + 1];
    };
    walk(write_line);
    for (size_t j = 0; j < kept.size(); ++j)
      if (!written[j]) write_line(j, {});
    // A line longer or shorter than its place would overwrite its neighbours.
    if (!lengths_agree)
      report_error("the lines of file %s did not fit their places", tidlist_path.c_str());
    close_written(file, tidlist_path, flush_block(out));
  }

  RuleCountFile values;
  values.tested = static_cast<uint64_t>(std::max(rules_tested, 0));
  values.level = level;
  values.fdr_pvalue = counts.fdr_pvalue;
  values.sig_at_level = counts.sig_at_level;
  values.sig_at_corrected = counts.sig_at_corrected;
  values.sig_at_fdr = counts.sig_at_fdr;
  write_rule_count_file(rule_count_file(output_name), values, RealDigits::six);
}
