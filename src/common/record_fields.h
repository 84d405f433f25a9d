// The record format of the dataset files: fields separated by a separator
// character, leading blanks of a field dropped, empty fields dropped.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Appends the fields of `line` to `fields` (strings, or views into `line`):
// a field's leading spaces are dropped (its trailing ones stay), and a field
// left empty is not appended, so the fields after it move one column to the
// left.
template <typename Field>
void split_fields(std::string_view line, char separator, std::vector<Field>& fields) {
  while (true) {
    const size_t end = line.find(separator);
    std::string_view field = line.substr(0, end);
    const size_t first = field.find_first_not_of(' ');
    if (first != std::string_view::npos) fields.emplace_back(field.substr(first));
    if (end == std::string_view::npos) return;
    line.remove_prefix(end + 1);
  }
}

// True for the two spellings of a missing value, "?" and "ignore".
bool is_missing_value(std::string_view value);

// The item key of `value` in the column of `attribute`: "attribute=value".
inline void item_key(const std::string& attribute, std::string_view value, std::string& key) {
  key.assign(attribute).append(1, '=').append(value);
}

// Reads one record the way the miner and the test-part loader both must, so
// that their items agree: calls `on_inconsistent()` first when the field
// count differs from the attribute count (the callers report "Error:
// inconsistent number of columns"), ignores fields beyond the last
// attribute, skips missing values, calls `on_class(value)` for the first
// target column that holds a value (later target columns are not read) and
// `on_item(column, value)` for every other field, in column order; the
// field's item is item_key(names[column], value). `fields` is scratch space
// the caller keeps between records; its views point into `line`.
template <typename OnInconsistent, typename OnItem, typename OnClass>
void visit_record(std::string_view line, const std::vector<std::string>& names,
                  const std::string& target_attr, std::vector<std::string_view>& fields,
                  OnInconsistent on_inconsistent, OnItem on_item, OnClass on_class) {
  fields.clear();
  split_fields(line, ',', fields);
  if (fields.size() != names.size()) on_inconsistent();
  const size_t columns = fields.size() < names.size() ? fields.size() : names.size();
  bool class_taken = false;
  for (size_t j = 0; j < columns; ++j) {
    const std::string_view value = fields[j];
    if (is_missing_value(value)) continue;
    if (names[j] != target_attr) {
      on_item(j, value);
    } else if (!class_taken) {
      on_class(value);
      class_taken = true;
    }
  }
}
