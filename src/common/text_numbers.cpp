// Integer scanning shared by the readers of the miner's text files.
#include "common/text_numbers.h"

#include <cctype>

ScanStatus scan_int32(std::FILE* file, int32_t& value) {
  int ch = std::getc(file);
  while (ch != EOF && std::isspace(ch)) ch = std::getc(file);
  if (ch == EOF) return ScanStatus::end_of_file;

  bool negative = false;
  if (ch == '+' || ch == '-') {
    negative = ch == '-';
    ch = std::getc(file);
  }
  if (ch == EOF || !std::isdigit(ch)) {
    if (ch != EOF) std::ungetc(ch, file);
    return ScanStatus::not_a_number;
  }
  // Saturate rather than overflow: any magnitude past 2^31 is out of range.
  int64_t magnitude = 0;
  for (; ch != EOF && std::isdigit(ch); ch = std::getc(file)) {
    if (magnitude <= INT64_C(1) << 32) magnitude = magnitude * 10 + (ch - '0');
  }
  if (ch != EOF) std::ungetc(ch, file);

  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value < INT32_MIN || signed_value > INT32_MAX) return ScanStatus::out_of_range;
  value = static_cast<int32_t>(signed_value);
  return ScanStatus::ok;
}
