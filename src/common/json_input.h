// Reading JSON text that comes from outside the system (settings, records)
// into a value, with the limits every such reader needs: the library's
// copies and dumps recurse once per level, so nesting is bounded before
// anything is built, and its errors become one line that says where.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

// Far more than any of the system's JSON files needs, and far less than
// would exhaust the stack.
inline constexpr int kMaxJsonDepth = 64;

// Parses `text` into `value`. Returns false with `error` set to one line for
// text that is not JSON or holds more after the value (with the line and
// column), arrays and objects nested deeper than kMaxJsonDepth, a number
// beyond the range of a double, and a key given twice in one object (these
// three with the path of the value, such as causal[0].probabilities[1]).
// Throws nothing but std::bad_alloc.
bool parse_json_input(std::string_view text, nlohmann::json& value, std::string& error);
