// The record format of the dataset files: fields separated by a separator
// character, leading blanks of a field dropped, empty fields dropped.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"

// Appends the fields of `line` to `fields`: a field's leading spaces are
// dropped (its trailing ones stay), and a field left empty is not appended,
// so the fields after it move one column to the left.
void split_fields(std::string_view line, char separator, std::vector<std::string>& fields);

// True for the two spellings of a missing value, "?" and "ignore".
bool is_missing_value(std::string_view value);

// Reads one record the way the miner and the test-part loader both must, so
// that their items agree: prints "Error: inconsistent number of columns" when
// the field count differs from the attribute count, ignores fields beyond the
// last attribute, skips missing values, calls `on_class(value)` for the first
// target column that holds a value (later target columns are not read) and
// `on_item(key)` with "attribute=value" for every other field, in column
// order. `fields` is scratch space the caller keeps between records.
template <typename OnItem, typename OnClass>
void visit_record(std::string_view line, const std::vector<std::string>& names,
                  const std::string& target_attr, std::vector<std::string>& fields, OnItem on_item,
                  OnClass on_class) {
  fields.clear();
  split_fields(line, ',', fields);
  if (fields.size() != names.size()) report_error("inconsistent number of columns");
  const size_t columns = fields.size() < names.size() ? fields.size() : names.size();
  bool class_taken = false;
  for (size_t j = 0; j < columns; ++j) {
    const std::string& value = fields[j];
    if (is_missing_value(value)) continue;
    if (names[j] != target_attr) {
      on_item(names[j] + "=" + value);
    } else if (!class_taken) {
      on_class(value);
      class_taken = true;
    }
  }
}
