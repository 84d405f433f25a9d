// Field text of the rule tables.
#include "common/csv_text.h"

#include <cstdio>

void put_csv_field(std::string& line, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    line += text;
    return;
  }
  line += '"';
  for (const char ch : text) {
    if (ch == '"') line += '"';
    line += ch;
  }
  line += '"';
}

std::string exact_real_text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

std::string ratio_text(double part, double whole) {
  return whole == 0.0 ? std::string() : exact_real_text(part / whole);
}

std::string lift_text(int32_t support, int32_t class_support, int32_t transactions,
                      int32_t positives) {
  if (support == 0 || positives == 0) return std::string();
  return ratio_text(static_cast<double>(class_support) / support,
                    static_cast<double>(positives) / transactions);
}

std::string rule_in_words(const int32_t* items, int32_t length,
                          const std::vector<std::string>& item_keys) {
  std::string text;
  for (int32_t i = 0; i < length; ++i) {
    if (i > 0) text += " & ";
    const int32_t item = items[i];
    text += item >= 0 && static_cast<size_t>(item) < item_keys.size()
                ? item_keys[static_cast<size_t>(item)]
                : "item " + std::to_string(item);
  }
  return text;
}
