// Making names and values safe for the system's files: a record's fields are
// split at ',', leading blanks are dropped, "?", "ignore" and empty fields
// read as missing, and a line break ends a record or a name.
#pragma once

#include <string>
#include <string_view>

// The kinds of rewrite one attribute's values needed, reported once each.
struct ValueRewrites {
  bool comma = false;          // ',' became ';'
  bool leading_blank = false;  // each leading blank became '_'
  bool line_break = false;     // CR and LF became blanks
  bool missing_word = false;   // "?", "ignore" or "" got parentheses: "(?)"
};

// The text under which `value` is written, so that it reads back as one
// field holding exactly that text; records in `rewrites` what was changed.
std::string make_safe_value(std::string_view value, ValueRewrites& rewrites);

// "commas became ';', leading blanks became '_'": what `rewrites` holds, or
// an empty text when nothing was rewritten.
std::string describe_rewrites(const ValueRewrites& rewrites);

// Longest attribute name the readers of the system keep, and longest item
// text "name=value" the miner's item map holds.
constexpr size_t kMaxNameBytes = 99;
constexpr size_t kMaxItemBytes = 199;

// False, with `error` set, for a name the attribute description cannot
// carry: empty, longer than kMaxNameBytes, or holding ':' or a line break.
bool check_attribute_name(const std::string& name, std::string& error);

// False, with `error` set, when the item "name=value" is longer than
// kMaxItemBytes.
bool check_item_length(const std::string& name, const std::string& value, std::string& error);
