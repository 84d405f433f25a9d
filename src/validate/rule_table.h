// The rule table "O.rules.csv": every mined rule in words, with its figures
// on the mining part and on the test part, for people and for spreadsheets.
// A header line, then one row per rule in the validated order (the kept rules
// by ascending test p-value, then the others in the miner's order). Fields
// are quoted as RFC 4180 says; reals carry 17 significant digits, enough to
// read back exactly; a ratio with a zero denominator is an empty field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "minerio/rule_file.h"

// One mined rule's counts on the test part.
struct RuleTest {
  int32_t covered = 0;
  int32_t covered_in_class = 0;
  double pvalue = 1.0;
};

// Where a rule's association points on the test part, against the mining part.
enum class Direction { same, reversed, none };

struct RuleTableRow {
  const RuleRecord* mined = nullptr;  // as read from the miner's rule file
  RuleTest test;
  Direction direction = Direction::none;
  bool significant = false;
  bool significant_corrected = false;
  bool significant_fdr = false;
  bool significant_holm = false;
  bool productive = false;  // kept, and productive on the test part
  bool significant_bh = false;
  bool productive_corrected = false;  // within the corrected level, and productive at it
};

struct RuleTableContext {
  std::vector<std::string> item_keys;  // "attribute=value" of item k
  std::string class_value;             // the class the rules predict
  int32_t mining_transactions = 0;
  int32_t mining_positives = 0;
  int32_t test_instances = 0;
  int32_t test_positives = 0;
};

// `same` when the test confidence lies on the same side of the test base rate
// as the mined confidence of the mining base rate (or on neither side),
// `reversed` when on the other side, `none` when the rule covers no test record.
Direction rule_direction(const RuleRecord& mined, const RuleTest& test,
                         const RuleTableContext& context);

// Writes "<output_name>.rules.csv"; a file that cannot be created or written
// gets an "Error: " line.
void write_rule_table(const std::string& output_name, const std::vector<RuleTableRow>& rows,
                      const RuleTableContext& context);
