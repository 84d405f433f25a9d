// The text of the fields of the rule tables (the holdout's and the direct
// run's): RFC 4180 quoting, reals that read back exactly, rules in words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Appends `text` to `line` as one field, quoted when it holds a comma, a
// quote or a line break (quotes doubled).
void put_csv_field(std::string& line, const std::string& text);

// 17 significant digits, enough to read the double back exactly.
std::string exact_real_text(double value);

// part / whole as exact_real_text, or empty when `whole` is zero.
std::string ratio_text(double part, double whole);

// The lift of a rule, its confidence over the base rate, as ratio_text:
// empty when the rule covers nothing or no record is in the class.
std::string lift_text(int32_t support, int32_t class_support, int32_t transactions,
                      int32_t positives);

// The items "attribute=value" joined by " & "; an id outside `item_keys`
// reads "item <id>".
std::string rule_in_words(const int32_t* items, int32_t length,
                          const std::vector<std::string>& item_keys);
