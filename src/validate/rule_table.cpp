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
  std::fputs("rank,rule,class,length,mined_support,mined_class_support,mined_confidence,"
             "mined_lift,mined_pvalue,test_support,test_class_support,test_confidence,test_lift,"
             "test_pvalue,direction,significant,significant_corrected,significant_fdr\n",
             file);
  const double mined_base = ratio(context.mining_positives, context.mining_transactions);
  std::string line;
  for (size_t r = 0; r < rows.size(); ++r) {
    const RuleTableRow& row = rows[r];
    const RuleRecord& rule = *row.mined;
    const double mined_confidence = ratio(rule.class_support, rule.support);
    line = std::to_string(r + 1) + ",";
    put_field(line, rule_text(rule, context.item_keys));
    line += ",";
    put_field(line, context.class_value);
    line += "," + std::to_string(rule.length) + "," + std::to_string(rule.support) + "," +
            std::to_string(rule.class_support) + "," +
            ratio_text(rule.class_support, rule.support) + "," +
            (rule.support == 0 || context.mining_positives == 0
                 ? std::string()
                 : ratio_text(mined_confidence, mined_base)) +
            "," + real_text(rule.pvalue) + "," + std::to_string(row.test.covered) + "," +
            std::to_string(row.test.covered_in_class) + "," +
            ratio_text(row.test.covered_in_class, row.test.covered) + "," +
            (row.test.covered == 0 || context.test_positives == 0
                 ? std::string()
                 : ratio_text(ratio(row.test.covered_in_class, row.test.covered),
                              ratio(context.test_positives, context.test_instances))) +
            "," + real_text(row.test.pvalue) + "," +
            direction_text(row.direction) +
            "," + (row.significant ? "1" : "0") + "," + (row.significant_corrected ? "1" : "0") +
            "," + (row.significant_fdr ? "1" : "0") + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
  }
  close_written(file, path);
}
