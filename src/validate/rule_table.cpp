// Writer of the rule table.
#include "validate/rule_table.h"

#include <cstdio>

#include "common/csv_text.h"
#include "common/file_open.h"
#include "common/run_files.h"

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

// One row of the table, with its line feed.
void append_row(std::string& line, size_t rank, const RuleTableRow& row,
                const RuleTableContext& context) {
  const RuleRecord& rule = *row.mined;
  const RuleTest& test = row.test;
  auto field = [&](const std::string& text) {
    line += text;
    line += ',';
  };
  field(std::to_string(rank));
  put_csv_field(line, rule_in_words(rule.items, rule.length, context.item_keys));
  line += ',';
  put_csv_field(line, context.class_value);
  line += ',';
  field(std::to_string(rule.length));
  field(std::to_string(rule.support));
  field(std::to_string(rule.class_support));
  field(ratio_text(rule.class_support, rule.support));
  field(lift_text(rule.support, rule.class_support, context.mining_transactions,
                  context.mining_positives));
  field(exact_real_text(rule.pvalue));
  field(std::to_string(test.covered));
  field(std::to_string(test.covered_in_class));
  field(ratio_text(test.covered_in_class, test.covered));
  field(lift_text(test.covered, test.covered_in_class, context.test_instances,
                  context.test_positives));
  field(exact_real_text(test.pvalue));
  field(direction_text(row.direction));
  field(row.significant ? "1" : "0");
  field(row.significant_corrected ? "1" : "0");
  field(row.significant_fdr ? "1" : "0");
  field(row.significant_holm ? "1" : "0");
  field(row.productive ? "1" : "0");
  field(row.significant_bh ? "1" : "0");
  line += row.productive_corrected ? "1\n" : "0\n";
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
  std::fputs(
      "rank,rule,class,length,mined_support,mined_class_support,mined_confidence,"
      "mined_lift,mined_pvalue,test_support,test_class_support,test_confidence,test_lift,"
      "test_pvalue,direction,significant,significant_corrected,significant_fdr,"
      "significant_holm,productive,significant_bh,productive_corrected\n",
      file);
  std::string line;
  for (size_t r = 0; r < rows.size(); ++r) {
    line.clear();
    append_row(line, r + 1, rows[r], context);
    std::fwrite(line.data(), 1, line.size(), file);
  }
  close_written(file, path);
}
