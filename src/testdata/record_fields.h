// The record format of the dataset files: fields separated by a separator
// character, leading blanks of a field dropped, empty fields dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Appends the fields of `line` to `fields`: a field's leading spaces are
// dropped (its trailing ones stay), and a field left empty is not appended,
// so the fields after it move one column to the left.
void split_fields(std::string_view line, char separator, std::vector<std::string>& fields);

// True for the two spellings of a missing value, "?" and "ignore".
bool is_missing_value(std::string_view value);
