// Writer of the rule table.
#include "validate/rule_table.h"

#include <cstdio>

#include "common/file_open.h"
#include "common/run_files.h"
#include "validate/csv_text.h"

namespace {

const char* direction_text(Direction direction) {
  switch (direction) {
    case Direction::same:
      return "same";
    case Direction::reversed:
      return "reversed";
    case Direction::none:
      break;
  }
  return "none";
}

}  // namespace

Direction rule_direction(const RuleRecord& mined, const RuleTest& test,
                         const RuleTableContext& context) {
  if (test.covered == 0) return Direction::none;
  auto ratio = [](double part, double whole) { return part / whole; };
  const double mined_confidence = ratio(mined.class_support, mined.support);
  const double mined_base = ratio(context.mining_positives, context.mining_transactions);
  const double test_confidence = ratio(test.covered_in_class, test.covered);
  const double test_base = ratio(context.test_positives, context.test_instances);
  const bool mined_above = mined_confidence > mined_base;
  const bool mined_below = mined_confidence < mined_base;
  if ((mined_above && test_confidence < test_base) || (mined_below && test_confidence > test_base))
    return Direction::reversed;
  return Direction::same;
}

void write_rule_table(const std::string& output_name, const std::vector<RuleTableRow>& rows,
                      const RuleTableContext& context) {
  const std::string path = rule_table_file(output_name);
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  std::fputs("rank,rule,class,length,mined_support,mined_class_support,mined_confidence,"
             "mined_lift,mined_pvalue,test_support,test_class_support,test_confidence,test_lift,"
             "test_pvalue,direction,significant,significant_corrected,significant_fdr,"
             "significant_holm\n",
             file);
  std::string line;
  for (size_t r = 0; r < rows.size(); ++r) {
    const RuleTableRow& row = rows[r];
    const RuleRecord& rule = *row.mined;
    line = std::to_string(r + 1) + ",";
    put_csv_field(line, rule_in_words(rule.items, rule.length, context.item_keys));
    line += ",";
    put_csv_field(line, context.class_value);
    line += "," + std::to_string(rule.length) + "," + std::to_string(rule.support) + "," +
            std::to_string(rule.class_support) + "," +
            ratio_text(rule.class_support, rule.support) + "," +
            lift_text(rule.support, rule.class_support, context.mining_transactions,
                      context.mining_positives) +
            "," + exact_real_text(rule.pvalue) + "," + std::to_string(row.test.covered) + "," +
            std::to_string(row.test.covered_in_class) + "," +
            ratio_text(row.test.covered_in_class, row.test.covered) + "," +
            lift_text(row.test.covered, row.test.covered_in_class, context.test_instances,
                      context.test_positives) +
            "," + exact_real_text(row.test.pvalue) + "," + direction_text(row.direction) + "," +
            (row.significant ? "1" : "0") + "," + (row.significant_corrected ? "1" : "0") + "," +
            (row.significant_fdr ? "1" : "0") + "," + (row.significant_holm ? "1" : "0") + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
  }
  close_written(file, path);
}
