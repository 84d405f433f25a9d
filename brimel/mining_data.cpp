// Reading the data to mine: items get ids in order of first appearance, class
// values are coded as the driver expects them.
#include "mining_data.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "common/column_item_cache.h"
#include "common/file_open.h"
#include "common/messages.h"
#include "common/record_fields.h"
#include "common/text_lines.h"
#include "testpart/attribute_names.h"

namespace {

constexpr int32_t kMissingClass = -1;

// Gives the class values their labels: 1/0 against a target value, or the
// rank by frequency (most frequent first, ties by first appearance).
void code_classes(const MinerParams& params, const std::vector<int32_t>& record_class,
                  std::vector<std::string> values_seen, MiningData& data) {
  std::vector<int32_t> counts(values_seen.size(), 0);
  for (const int32_t value : record_class)
    if (value != kMissingClass) ++counts[value];
  data.labels.assign(record_class.size(), 0);
  if (!params.target_value.empty()) {
    for (size_t t = 0; t < record_class.size(); ++t) {
      const int32_t value = record_class[t];
      data.labels[t] = value != kMissingClass && values_seen[value] == params.target_value;
    }
    data.class_values = std::move(values_seen);
    data.class_counts = std::move(counts);
    data.classes_usable = true;
  } else {
    std::vector<int32_t> order(values_seen.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return counts[a] > counts[b]; });
    std::vector<int32_t> rank_of(values_seen.size());
    for (size_t r = 0; r < order.size(); ++r) {
      rank_of[order[r]] = static_cast<int32_t>(r);
      data.class_values.push_back(values_seen[order[r]]);
      data.class_counts.push_back(counts[order[r]]);
    }
    for (size_t t = 0; t < record_class.size(); ++t) {
      const int32_t value = record_class[t];
      data.labels[t] = value == kMissingClass ? kMissingClass : rank_of[value];
    }
    // The driver reads the class-value map word by word.
    for (const std::string& value : data.class_values)
      if (value.find_first_of(" \t\v\f\r") != std::string::npos)
        report_warning("class value '%s' holds white space; the driver cannot read it back",
                       value.c_str());
    data.classes_usable = order.size() >= 2;
    if (!data.classes_usable)
      report_error("fewer than two values of the class attribute %s; no rules mined",
                   params.target_attribute.c_str());
  }
  data.positives = static_cast<int32_t>(std::count(data.labels.begin(), data.labels.end(), 1));
}

// The records as they are read, line by line, before the classes are coded.
struct RecordReader {
  const MinerParams& params;
  const AttributeNames& names;
  std::unordered_map<std::string, int32_t> item_ids{};
  std::unordered_map<std::string, int32_t> class_ids{};
  std::vector<std::string> values_seen{};
  std::vector<int32_t> record_class{};
  std::vector<std::string_view> fields{};
  std::string key{};
  ColumnItemCache cache{};
  std::vector<int32_t> transaction{};
};

// Reports a target attribute the names lack; the records are read anyway.
void check_target(const MinerParams& params, const AttributeNames& names) {
  if (std::find(names.begin(), names.end(), params.target_attribute) == names.end())
    report_error("target attribute %s not in %s", params.target_attribute.c_str(),
                 params.names_file.c_str());
}

// Adds the record of one line of the data file (an empty line holds none);
// false after an "Error: " line when there are more than can be numbered.
bool add_record_line(std::string_view line, RecordReader& reader, MiningData& data) {
  if (line.empty()) return true;
  if (reader.record_class.size() == static_cast<size_t>(INT32_MAX) ||
      data.items.size() > static_cast<size_t>(INT64_MAX / 2)) {
    report_error("%s holds more records than the miner can number",
                 reader.params.data_file.c_str());
    return false;
  }
  std::vector<int32_t>& transaction = reader.transaction;
  transaction.clear();
  int32_t class_value = kMissingClass;
  visit_record(
      line, reader.names, reader.params.target_attribute, reader.fields,
      [&](size_t column, std::string_view value) {
        int32_t item = cached_item(reader.cache, column, value);
        if (item < 0) {
          item_key(reader.names[column], value, reader.key);
          const auto [found, added] =
              reader.item_ids.try_emplace(reader.key, static_cast<int32_t>(data.item_keys.size()));
          if (added) data.item_keys.push_back(found->first);
          item = found->second;
          cache_item(reader.cache, column, value, item);
        }
        transaction.push_back(item);
      },
      [&](std::string_view value) {
        const auto [found, added] = reader.class_ids.try_emplace(
            std::string(value), static_cast<int32_t>(reader.values_seen.size()));
        if (added) reader.values_seen.push_back(found->first);
        class_value = found->second;
      });
  // Two columns of one name and value give one item: a pattern is a set.
  std::sort(transaction.begin(), transaction.end());
  transaction.erase(std::unique(transaction.begin(), transaction.end()), transaction.end());
  data.items.insert(data.items.end(), transaction.begin(), transaction.end());
  data.offsets.push_back(static_cast<int64_t>(data.items.size()));
  reader.record_class.push_back(class_value);
  return true;
}

}  // namespace

bool read_mining_data(const MinerParams& params, MiningData& data) {
  std::FILE* names_file = open_for_read(params.names_file);
  if (names_file == nullptr) return false;
  AttributeNames names;
  read_attribute_names(names, names_file);
  check_target(params, names);
  data.column_names = names;

  std::FILE* file = open_for_read(params.data_file);
  if (file == nullptr) return false;
  RecordReader reader{params, names};
  std::string line;
  bool ok = true;
  while (ok && read_text_line(file, line)) ok = add_record_line(line, reader, data);
  std::fclose(file);
  if (!ok) return false;
  code_classes(params, reader.record_class, std::move(reader.values_seen), data);
  return true;
}

bool mining_data_from_lines(const MinerParams& params, const AttributeNames& names,
                            const std::vector<std::string>& lines, MiningData& data) {
  check_target(params, names);
  data.column_names = names;
  RecordReader reader{params, names};
  for (const std::string& line : lines)
    if (!add_record_line(line, reader, data)) return false;
  code_classes(params, reader.record_class, std::move(reader.values_seen), data);
  return true;
}
