// The validated rule files, line-parallel, one line per kept rule:
//   "O.sorted.rules.txt"    length  items..  0  pvalue  0  0
//   "O.sorted.tidlist.txt"  support  class_support  tids..
// each value followed by one blank; then the rule count file.
#pragma once

#include <cstdint>
#include <string>

#include "validate/rule_count.h"
#include "validate/validation.h"

void write_validated_rules(const std::string& output_name, const ValidatedRules& kept,
                           const RuleCountRecord& counts, int32_t rules_tested, double level);
