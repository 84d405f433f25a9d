// Numbers as text: strict reading of a value, and the shortest decimal
// spellings used in bin labels.
#pragma once

#include <string>
#include <string_view>

// True when the whole of `text` is one finite decimal number (an optional
// sign, digits, a point, an exponent); blanks around it are allowed. Numbers
// beyond the range of a double are refused rather than read as infinity.
bool parse_number(std::string_view text, double& value);

// The shortest decimal text that reads back as exactly `value` ("38.5", "49",
// "1e+21"); minus zero is written "0".
std::string format_number(double value);

// A cut point strictly between `low` < `high`: their midpoint, rounded to as
// few significant digits as keep it within a tenth of the gap of the
// midpoint, for short labels (38 and 39 give 38.5; 48 and 50 give 49; 25 and
// 38 give 32). When no number lies strictly between the two, returns `high`,
// so that `low` still falls below the cut and `high` not.
double cut_between(double low, double high);
