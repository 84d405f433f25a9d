// Splitting a record into its fields.
#include "common/record_fields.h"

void split_fields(std::string_view line, char separator, std::vector<std::string>& fields) {
  std::string field;
  for (const char byte : line) {
    if (byte == separator) {
      if (!field.empty()) fields.push_back(field);
      field.clear();
    } else if (!(field.empty() && byte == ' ')) {
      field.push_back(byte);
    }
  }
  if (!field.empty()) fields.push_back(field);
}

bool is_missing_value(std::string_view value) { return value == "?" || value == "ignore"; }
