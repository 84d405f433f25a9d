// Rewrites of values and checks of names for the .data and .names files.
#include "safe_values.h"

#include "common/record_fields.h"

std::string make_safe_value(std::string_view value, ValueRewrites& rewrites) {
  std::string safe;
  safe.reserve(value.size());
  bool leading = true;
  for (const char c : value) {
    if (c == ',') {
      safe.push_back(';');
      rewrites.comma = true;
    } else if (c == '\n' || c == '\r') {
      safe.push_back(' ');
      rewrites.line_break = true;
    } else {
      safe.push_back(c);
    }
    // A line break turned blank at the start is a leading blank too.
    if (leading && safe.back() == ' ') {
      safe.back() = '_';
      rewrites.leading_blank = true;
    } else {
      leading = false;
    }
  }
  if (safe.empty() || is_missing_value(safe)) {
    safe = "(" + safe + ")";
    rewrites.missing_word = true;
  }
  return safe;
}

std::string describe_rewrites(const ValueRewrites& rewrites) {
  std::string text;
  const auto add = [&text](bool done, const char* what) {
    if (!done) return;
    if (!text.empty()) text += ", ";
    text += what;
  };
  add(rewrites.comma, "commas became ';'");
  add(rewrites.leading_blank, "leading blanks became '_'");
  add(rewrites.line_break, "line breaks became blanks");
  add(rewrites.missing_word, "values that would read as missing got parentheses");
  return text;
}

bool check_attribute_name(const std::string& name, std::string& error) {
  if (name.empty()) {
    error = "an attribute has an empty name";
  } else if (name.size() > kMaxNameBytes) {
    error = "attribute name '" + name.substr(0, 40) + "...' is longer than " +
            std::to_string(kMaxNameBytes) + " bytes";
  } else if (name.find(':') != std::string::npos) {
    error = "attribute name '" + name + "' holds ':', which ends a name in the .names file";
  } else if (name.find_first_of("\r\n") != std::string::npos) {
    error = "an attribute name holds a line break";
  } else {
    return true;
  }
  return false;
}

bool check_item_length(const std::string& name, const std::string& value, std::string& error) {
  if (name.size() + 1 + value.size() <= kMaxItemBytes) return true;
  error = "value '" + value.substr(0, 40) + "...' of attribute '" + name + "' makes an item '" +
          "name=value' longer than " + std::to_string(kMaxItemBytes) + " bytes";
  return false;
}
