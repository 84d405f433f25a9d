// How many mined rules are significant at the level, at the level divided
// by the number of patterns tested, and under the FDR step, counted the way
// the driver counts validated rules.
#pragma once

#include <cstdint>
#include <vector>

#include "validate/rule_count.h"

// `sorted_pvalues` ascending; every one is within `level`. `corrected_level`
// in the result is level / patterns_tested.
RuleCountRecord count_significant_mined_rules(const std::vector<double>& sorted_pvalues,
                                              uint64_t patterns_tested, double level);
