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
#include "common/parallel_chunks.h"
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

// Reports a target attribute the names lack; the records are read anyway.
void check_target(const MinerParams& params, const AttributeNames& names) {
  if (std::find(names.begin(), names.end(), params.target_attribute) == names.end())
    report_error("target attribute %s not in %s", params.target_attribute.c_str(),
                 params.names_file.c_str());
}

// Keys numbered in order of first appearance.
struct KeyNumbers {
  std::unordered_map<std::string, int32_t> ids{};
  std::vector<std::string> keys{};
};

int32_t number_of(KeyNumbers& numbers, const std::string& key) {
  const auto [found, added] =
      numbers.ids.try_emplace(key, static_cast<int32_t>(numbers.keys.size()));
  if (added) numbers.keys.push_back(key);
  return found->second;
}

// The item keys ("attribute=value") and the class values of the data.
struct Numbering {
  KeyNumbers items{};
  KeyNumbers classes{};
};

// The number a run reading apart gives the i-th key the whole data's
// numbering lacks: -2, -3, ... (kMissingClass is -1).
int32_t provisional(int32_t i) { return -2 - i; }

// How a run of lines numbers its keys: by the whole data's numbering, which
// takes in the keys it lacks, or, with `fresh`, which only reads it and
// gives the keys it lacks provisional numbers in `fresh`, fixed once the
// runs before have been taken in.
struct Numberer {
  Numbering& whole;
  Numbering* fresh = nullptr;
};

// The number of `key` among the item keys or the class values, as `kind`
// says.
int32_t number_key(const Numberer& numberer, KeyNumbers Numbering::*kind, const std::string& key) {
  KeyNumbers& whole = numberer.whole.*kind;
  if (numberer.fresh == nullptr) return number_of(whole, key);
  if (const auto found = whole.ids.find(key); found != whole.ids.end()) return found->second;
  return provisional(number_of(numberer.fresh->*kind, key));
}

// The records of a run of lines: each record's items ascending, a pair of
// columns of one name and value one item.
struct RecordRun {
  std::vector<int64_t> offsets{0};
  std::vector<int32_t> items{};
  std::vector<int32_t> record_class{};
  size_t inconsistent_lines = 0;  // with another number of fields than of names
  // Read apart: the keys the whole data's numbering lacked, and the records
  // holding their provisional numbers.
  Numbering fresh{};
  std::vector<size_t> provisional_records{};
};

// What a reader of lines keeps between them.
struct LineReader {
  const AttributeNames& names;
  const std::string& target_attribute;
  std::vector<std::string_view> fields{};
  std::string key{};
  ColumnItemCache cache{};
  std::vector<int32_t> transaction{};
};

// Adds the record of one line (an empty line holds none) to `run`, its items
// and class numbered by `numberer`.
void add_record_line(std::string_view line, LineReader& reader, const Numberer& numberer,
                     RecordRun& run) {
  if (line.empty()) return;
  std::vector<int32_t>& transaction = reader.transaction;
  transaction.clear();
  int32_t class_value = kMissingClass;
  visit_record(
      line, reader.names, reader.target_attribute, reader.fields, [&] { ++run.inconsistent_lines; },
      [&](size_t column, std::string_view value) {
        int32_t item = cached_item(reader.cache, column, value);
        if (item == kNoCachedItem) {
          item_key(reader.names[column], value, reader.key);
          item = number_key(numberer, &Numbering::items, reader.key);
          cache_item(reader.cache, column, value, item);
        }
        transaction.push_back(item);
      },
      [&](std::string_view value) {
        reader.key.assign(value);
        class_value = number_key(numberer, &Numbering::classes, reader.key);
      });
  // Two columns of one name and value give one item: a pattern is a set.
  std::sort(transaction.begin(), transaction.end());
  transaction.erase(std::unique(transaction.begin(), transaction.end()), transaction.end());
  // Provisional numbers are negative and sort first.
  if ((!transaction.empty() && transaction.front() < 0) || class_value < kMissingClass)
    run.provisional_records.push_back(run.record_class.size());
  run.items.insert(run.items.end(), transaction.begin(), transaction.end());
  run.offsets.push_back(static_cast<int64_t>(run.items.size()));
  run.record_class.push_back(class_value);
}

// The records read so far, and the numbering of the whole data.
struct WholeData {
  Numbering numbering{};
  RecordRun records{};  // numbered by `numbering`
};

// Whether the whole data has room for `records` more records of `items`
// items; false after an "Error: " line when there are more than can be
// numbered.
bool has_room(const MinerParams& params, const RecordRun& all, size_t records, size_t items) {
  if (records <= static_cast<size_t>(INT32_MAX) - all.record_class.size() &&
      items <= static_cast<size_t>(INT64_MAX / 2) - all.items.size())
    return true;
  report_error("%s holds more records than the miner can number", params.data_file.c_str());
  return false;
}

void report_inconsistent_lines(RecordRun& run) {
  for (; run.inconsistent_lines > 0; --run.inconsistent_lines)
    report_error("inconsistent number of columns");
}

// Adds the record of one line to the whole data's, numbered by it; false as
// has_room says.
bool add_whole_data_line(const MinerParams& params, std::string_view line, LineReader& reader,
                         WholeData& whole) {
  if (!has_room(params, whole.records, 1, 0)) return false;
  add_record_line(line, reader, Numberer{whole.numbering}, whole.records);
  report_inconsistent_lines(whole.records);
  return true;
}

// Gives the keys `run` met that the whole data's numbering lacked their
// numbers there, in the order the run met them, so that the whole data
// numbers them as one pass over the lines would, and renumbers the records
// that held them.
void fix_provisional(RecordRun& run, Numbering& whole) {
  std::vector<int32_t> item_of, class_of;
  for (const std::string& key : run.fresh.items.keys)
    item_of.push_back(number_of(whole.items, key));
  for (const std::string& value : run.fresh.classes.keys)
    class_of.push_back(number_of(whole.classes, value));
  for (const size_t r : run.provisional_records) {
    const auto first = run.items.begin() + run.offsets[r];
    const auto last = run.items.begin() + run.offsets[r + 1];
    for (auto item = first; item != last && *item < 0; ++item)
      *item = item_of[static_cast<size_t>(provisional(*item))];
    std::sort(first, last);
    int32_t& value = run.record_class[r];
    if (value < kMissingClass) value = class_of[static_cast<size_t>(provisional(value))];
  }
}

// Appends the records of `run`, renumbered, to the whole data's; false as
// has_room says.
bool append_run(const MinerParams& params, RecordRun& run, WholeData& whole) {
  report_inconsistent_lines(run);
  RecordRun& all = whole.records;
  if (!has_room(params, all, run.record_class.size(), run.items.size())) return false;
  const int64_t shift = all.offsets.back();
  all.items.insert(all.items.end(), run.items.begin(), run.items.end());
  for (size_t r = 1; r < run.offsets.size(); ++r) all.offsets.push_back(run.offsets[r] + shift);
  all.record_class.insert(all.record_class.end(), run.record_class.begin(), run.record_class.end());
  run = RecordRun{};
  return true;
}

// Bytes of the data file read at once: its lines are split among the
// threads. Small enough that the block and its records renumbered apart add
// little to the data's own memory.
constexpr size_t kBlockBytes = size_t{2} << 20;
// The fewest bytes a thread takes of a block.
constexpr size_t kBytesPerThread = size_t{256} << 10;

// Reads the lines of `text` into the whole data, on up to `threads` threads
// when it is long, each taking a share of the lines; the keys the shares
// meet first are numbered after, share by share.
bool read_block(const MinerParams& params, const AttributeNames& names, std::string_view text,
                int threads, WholeData& whole) {
  const size_t parts = std::clamp<size_t>(text.size() / kBytesPerThread, 1,
                                          static_cast<size_t>(std::max(threads, 1)));
  if (parts == 1) {
    LineReader reader{names, params.target_attribute};
    bool ok = true;
    for_each_text_line(text, [&](std::string_view line) {
      ok = ok && add_whole_data_line(params, line, reader, whole);
    });
    return ok;
  }
  // Each share starts after the line feed that ends the line its even share
  // of the bytes starts in.
  std::vector<size_t> starts{0};
  for (size_t p = 1; p < parts; ++p) {
    const size_t end = text.find('\n', std::max(starts.back(), text.size() * p / parts));
    starts.push_back(end == std::string_view::npos ? text.size() : end + 1);
  }
  starts.push_back(text.size());
  std::vector<RecordRun> runs(parts);
  parallel_chunks(parts, 1, threads, [&](size_t begin, size_t end) {
    for (size_t p = begin; p < end; ++p) {
      LineReader reader{names, params.target_attribute};
      const Numberer numberer{whole.numbering, &runs[p].fresh};
      for_each_text_line(
          text.substr(starts[p], starts[p + 1] - starts[p]),
          [&](std::string_view line) { add_record_line(line, reader, numberer, runs[p]); });
    }
  });
  for (RecordRun& run : runs) {
    fix_provisional(run, whole.numbering);
    if (!append_run(params, run, whole)) return false;
  }
  return true;
}

// Moves the whole data's records into `data` and codes their classes.
void finish_reading(const MinerParams& params, WholeData& whole, MiningData& data) {
  data.item_keys = std::move(whole.numbering.items.keys);
  data.items = std::move(whole.records.items);
  data.offsets = std::move(whole.records.offsets);
  code_classes(params, whole.records.record_class, std::move(whole.numbering.classes.keys), data);
}

}  // namespace

bool read_mining_data(const MinerParams& params, MiningData& data, int threads) {
  std::FILE* names_file = open_for_read(params.names_file);
  if (names_file == nullptr) return false;
  AttributeNames names;
  read_attribute_names(names, names_file);
  check_target(params, names);
  data.column_names = names;

  std::FILE* file = open_for_read(params.data_file);
  if (file == nullptr) return false;
  WholeData whole;
  const bool ok = for_each_line_block(file, kBlockBytes, [&](std::string_view text) {
    return read_block(params, names, text, threads, whole);
  });
  const bool read = close_read(file, params.data_file);
  if (!ok || !read) return false;
  finish_reading(params, whole, data);
  return true;
}

bool mining_data_from_lines(const MinerParams& params, const AttributeNames& names,
                            const std::vector<std::string>& lines, MiningData& data) {
  check_target(params, names);
  data.column_names = names;
  WholeData whole;
  LineReader reader{names, params.target_attribute};
  for (const std::string& line : lines)
    if (!add_whole_data_line(params, line, reader, whole)) return false;
  finish_reading(params, whole, data);
  return true;
}
