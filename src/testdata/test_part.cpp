// Loader of the test part: every record becomes one transaction of item ids
// in the miner's numbering and one class label.
#include "testdata/test_part.h"

#include <algorithm>

#include "testdata/record_fields.h"
#include "testdata/text_lines.h"

namespace {

constexpr int32_t kNoLabel = -1;  // outside every class, also the rule's

// The label of a target value, or kNoLabel for a missing one.
int32_t label_of(const std::string& value, const std::string& target_value,
                 const ClassValueMap& class_map) {
  if (is_missing_value(value)) return kNoLabel;
  if (!target_value.empty()) return value == target_value ? 1 : 0;
  const auto found = class_map.find(value);
  if (found != class_map.end()) return found->second;
  std::printf("Warning: class %s does not occur in mining data\n", value.c_str());
  return kNoLabel;
}

}  // namespace

void load_item_map(ItemMap& map, std::FILE* file) {
  std::string key;
  int32_t item = 0;
  // Every line counts, an empty one too: ids are line indexes.
  while (read_text_line(file, key)) map[key] = item++;
  std::fclose(file);
}

void load_test_part(const std::string& test_base, const AttributeNames& names,
                    const std::string& target_attr, const std::string& target_value,
                    const ClassValueMap& class_map, TestTransactions& transactions,
                    ClassLabels& labels, const std::string& output_name) {
  std::fputs("load map...\n", stdout);
  ItemMap items;
  const std::string map_path = output_name + ".attrvalue2item.txt";
  if (std::FILE* map_file = std::fopen(map_path.c_str(), "r")) {
    load_item_map(items, map_file);
  } else {
    std::printf("Error: cannot open file %s for read\n", map_path.c_str());
  }

  const std::string data_path = test_base + ".data";
  std::FILE* data = std::fopen(data_path.c_str(), "r");
  if (data == nullptr) {
    std::printf("Error: cannot open file %s for read\n", data_path.c_str());
    return;
  }
  std::string line;
  std::vector<std::string> fields;
  while (read_text_line(data, line)) {
    if (line.empty()) continue;
    fields.clear();
    split_fields(line, ',', fields);
    if (fields.size() != names.size()) std::fputs("Error: inconsistent number of columns\n", stdout);
    // Fields beyond the last attribute have no name to form a key with.
    const size_t columns = std::min(fields.size(), names.size());
    TestTransaction transaction;
    int32_t label = kNoLabel;
    bool label_taken = false;
    for (size_t j = 0; j < columns; ++j) {
      const std::string& value = fields[j];
      if (names[j] == target_attr) {
        // One label per record: a repeated target column after the one that
        // gave the label is not read.
        if (!label_taken && !is_missing_value(value)) {
          label = label_of(value, target_value, class_map);
          label_taken = true;
        }
        continue;
      }
      if (is_missing_value(value)) continue;
      const std::string key = names[j] + "=" + value;
      const auto found = items.find(key);
      if (found != items.end()) {
        transaction.push_back(found->second);
      } else {
        std::fwrite(key.data(), 1, key.size(), stdout);
        std::fputc('\n', stdout);
      }
    }
    std::sort(transaction.begin(), transaction.end());
    transactions.push_back(std::move(transaction));
    labels.push_back(label);
  }
  std::fclose(data);
}
