// The test part as item transactions in the miner's item numbering, and the
// miner's item map "<output>.attrvalue2item.txt" (line k holds the key
// "attribute=value" of item k).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "miner/mining_stats.h"
#include "testpart/attribute_names.h"

using ItemMap = std::map<std::string, int32_t>;
using TestTransaction = std::vector<int32_t>;      // ascending item ids
using TestTransactions = std::vector<TestTransaction>;
using ClassLabels = std::vector<int32_t>;          // label 1 marks the rule class

// Fills `map` from the item-map file (opened for reading by the caller) and
// closes the file.
void load_item_map(ItemMap& map, std::FILE* file);

// The item map of `output_name` by item id: entry k is the key of item k. A
// missing file gives none, silently: the test-part loader reports it.
std::vector<std::string> read_item_keys(const std::string& output_name);

// Loads "<test_base>.data": one transaction and one label per record, so the
// two lists always have the same length. `class_map` is consulted only when
// `target_value` is empty.
void load_test_part(const std::string& test_base, const AttributeNames& names,
                    const std::string& target_attr, const std::string& target_value,
                    const ClassValueMap& class_map, TestTransactions& transactions,
                    ClassLabels& labels, const std::string& output_name);
