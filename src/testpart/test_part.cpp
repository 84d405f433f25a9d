// Loader of the test part: every record becomes one transaction of item ids
// in the miner's numbering and one class label.
#include "testpart/test_part.h"

#include <algorithm>

#include "common/column_item_cache.h"
#include "common/file_open.h"
#include "common/messages.h"
#include "common/record_fields.h"
#include "common/run_files.h"
#include "common/text_lines.h"
#include "minerio/item_map.h"

namespace {

constexpr int32_t kNoLabel = -1;  // outside every class, also the rule's

// The label of a record's class value.
int32_t label_of(std::string_view value, const std::string& target_value,
                 const ClassValueMap& class_map) {
  if (!target_value.empty()) return value == target_value ? 1 : 0;
  const auto found = class_map.find(std::string(value));
  if (found != class_map.end()) return found->second;
  report_warning("class %s does not occur in mining data", std::string(value).c_str());
  return kNoLabel;
}

}  // namespace

void load_test_part(const std::string& test_base, const AttributeNames& names,
                    const std::string& target_attr, const std::string& target_value,
                    const ClassValueMap& class_map, TestTransactions& transactions,
                    ClassLabels& labels, const std::string& output_name) {
  std::fputs("load map...\n", stdout);
  ItemMap items;
  const std::string map_path = item_map_file(output_name);
  if (std::FILE* map_file = open_for_read(map_path)) {
    load_item_map(items, map_file);
  }

  const std::string data_path = data_file(test_base);
  std::FILE* data = open_for_read(data_path);
  if (data == nullptr) return;
  std::string line;
  std::vector<std::string_view> fields;
  std::string key;
  ColumnItemCache cache;
  while (read_text_line(data, line)) {
    if (line.empty()) continue;
    TestTransaction transaction;
    int32_t label = kNoLabel;
    visit_record(
        line, names, target_attr, fields, [] { report_error("inconsistent number of columns"); },
        [&](size_t column, std::string_view value) {
          if (const int32_t item = cached_item(cache, column, value); item != kNoCachedItem) {
            transaction.push_back(item);
            return;
          }
          item_key(names[column], value, key);
          const auto found = items.find(key);
          if (found != items.end()) {
            transaction.push_back(found->second);
            cache_item(cache, column, value, found->second);
          } else {
            std::fwrite(key.data(), 1, key.size(), stdout);
            std::fputc('\n', stdout);
          }
        },
        [&](std::string_view value) { label = label_of(value, target_value, class_map); });
    std::sort(transaction.begin(), transaction.end());
    transactions.push_back(std::move(transaction));
    labels.push_back(label);
  }
  std::fclose(data);
}
