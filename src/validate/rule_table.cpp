// Writer of the rule table.
#include "validate/rule_table.h"

#include <cstdio>

#include "common/file_open.h"
#include "common/run_files.h"

namespace {

double ratio(double part, double whole) { return part / whole; }

void put_field(std::string& line, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    line += text;
    return;
  }
  line += '"';
  for (const char ch : text) {
    if (ch == '"') line += '"';
    line += ch;
  }
  line += '"';
}

std::string real_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// Empty when the denominator is zero: no confidence without a cover.
std::string ratio_text(double part, double whole) {
  return whole == 0.0 ? std::string() : real_text(ratio(part, whole));
}

std::string rule_text(const RuleRecord& rule, const std::vector<std::string>& item_keys) {
  std::string text;
  for (int32_t i = 0; i < rule.length; ++i) {
    if (i > 0) text += " & ";
    const int32_t item = rule.items[i];
    text += item >= 0 && static_cast<size_t>(item) < item_keys.size()
                ? item_keys[static_cast<size_t>(item)]
                : "item " + std::to_string(item);
  }
  return text;
}

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

// Lift: a confidence over its part's base rate; empty without a cover or
// without any record of the class.
std::string lift_text(int32_t class_support, int32_t support, int32_t positives,
                      int32_t instances) {
  if (support == 0 || positives == 0) return std::string();
  return ratio_text(ratio(class_support, support), ratio(positives, instances));
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
  put_field(line, rule_text(rule, context.item_keys));
  line += ',';
  put_field(line, context.class_value);
  line += ',';
  field(std::to_string(rule.length));
  field(std::to_string(rule.support));
  field(std::to_string(rule.class_support));
  field(ratio_text(rule.class_support, rule.support));
  field(lift_text(rule.class_support, rule.support, context.mining_positives,
                  context.mining_transactions));
  field(real_text(rule.pvalue));
  field(std::to_string(test.covered));
  field(std::to_string(test.covered_in_class));
  field(ratio_text(test.covered_in_class, test.covered));
  field(lift_text(test.covered_in_class, test.covered, context.test_positives,
                  context.test_instances));
  field(real_text(test.pvalue));
  field(direction_text(row.direction));
  field(row.significant ? "1" : "0");
  field(row.significant_corrected ? "1" : "0");
  line += row.significant_fdr ? "1\n" : "0\n";
}

}  // namespace

Direction rule_direction(const RuleRecord& mined, const RuleTest& test,
                         const RuleTableContext& context) {
  if (test.covered == 0) return Direction::none;
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
      "test_pvalue,direction,significant,significant_corrected,significant_fdr\n",
      file);
  std::string line;
  for (size_t r = 0; r < rows.size(); ++r) {
    line.clear();
    append_row(line, r + 1, rows[r], context);
    std::fwrite(line.data(), 1, line.size(), file);
  }
  close_written(file, path);
}
