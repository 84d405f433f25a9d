// The test part as item transactions in the miner's item numbering.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "minerio/mining_stats.h"
#include "testpart/attribute_names.h"

using TestTransaction = std::vector<int32_t>;  // ascending item ids
using TestTransactions = std::vector<TestTransaction>;
using ClassLabels = std::vector<int32_t>;  // label 1 marks the rule class

// Loads "<test_base>.data": one transaction and one label per record, so the
// two lists always have the same length. `class_map` is consulted only when
// `target_value` is empty.
void load_test_part(const std::string& test_base, const AttributeNames& names,
                    const std::string& target_attr, const std::string& target_value,
                    const ClassValueMap& class_map, TestTransactions& transactions,
                    ClassLabels& labels, const std::string& output_name);
