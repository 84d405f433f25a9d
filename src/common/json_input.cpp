// Parsing outside JSON through the library's event interface, building the
// value here: the library reads the text without recursion, and the value is
// never given more than kMaxJsonDepth levels, so nothing later recurses deep.
#include "common/json_input.h"

#include <nlohmann/json.hpp>
#include <vector>

namespace {

using nlohmann::json;

// Paths and tokens quoted in a message are cut to about this length.
constexpr size_t kShownPath = 57;
constexpr size_t kShownToken = 37;

std::string shortened(const std::string& text, size_t length) {
  return text.size() > length ? text.substr(0, length) + "..." : text;
}

// Text escaped as in a JSON string, without the quotes, and with ill-formed
// UTF-8 replaced, so that the message is one line of well-formed text.
std::string escaped(const std::string& text) {
  const std::string quoted = json(text).dump(-1, ' ', false, json::error_handler_t::replace);
  return quoted.substr(1, quoted.size() - 2);
}

bool is_plain_key(const std::string& key) {
  if (key.empty()) return false;
  for (const char c : key) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-')) {
      return false;
    }
  }
  return true;
}

// The handler of the library's events: each value goes into the innermost
// open array or object, or becomes the whole value.
struct ValueBuilder {
  struct Level {
    json* container;
    std::string key;  // objects: the key of the value being read
  };

  json root;
  std::vector<Level> levels;
  std::string error;

  // Where the value being read goes, such as causal[0].probabilities[1]; a
  // key that is not a plain word is quoted, escaped, so the line stays one.
  std::string path() const {
    std::string path;
    for (const Level& level : levels) {
      std::string step;
      if (level.container->is_array()) {
        // An outer array already holds the value being read as its last.
        const size_t index = level.container->size() - (&level == &levels.back() ? 0 : 1);
        step = "[" + std::to_string(index) + "]";
      } else {
        const std::string key = shortened(level.key, kShownPath);
        step = is_plain_key(level.key) ? key : "\"" + escaped(key) + "\"";
        if (!path.empty()) step = "." + step;
      }
      if (!path.empty() && path.size() + step.size() > kShownPath) return path + "...";
      path += step;
    }
    return path;
  }

  json* place(json&& value) {
    if (levels.empty()) {
      root = std::move(value);
      return &root;
    }
    json& container = *levels.back().container;
    if (container.is_array()) {
      container.push_back(std::move(value));
      return &container.back();
    }
    json& slot = container[levels.back().key];
    slot = std::move(value);
    return &slot;
  }

  bool open(json&& empty) {
    if (levels.size() >= size_t(kMaxJsonDepth)) {
      error = path() + " is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
      return false;
    }
    json* container = place(std::move(empty));
    levels.push_back({container, ""});
    return true;
  }

  bool close() {
    levels.pop_back();
    return true;
  }

  bool put(json&& value) {
    place(std::move(value));
    return true;
  }

  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(json::number_integer_t value) { return put(value); }
  bool number_unsigned(json::number_unsigned_t value) { return put(value); }
  bool number_float(json::number_float_t value, const std::string&) { return put(value); }
  bool string(std::string& value) { return put(std::move(value)); }
  bool binary(json::binary_t&) { return false; }  // JSON text has none
  bool start_object(size_t) { return open(json::object()); }
  bool end_object() { return close(); }
  bool start_array(size_t) { return open(json::array()); }
  bool end_array() { return close(); }

  // The library would keep the last of two values of one key; which one the
  // writer meant is not known.
  bool key(std::string& key) {
    levels.back().key = std::move(key);
    if (!levels.back().container->contains(levels.back().key)) return true;
    error = path() + " is given twice";
    return false;
  }

  bool parse_error(size_t, const std::string& last_token, const json::exception& failure) {
    constexpr int kNumberOverflow = 406;
    const std::string token = escaped(shortened(last_token, kShownToken));
    if (failure.id == kNumberOverflow) {
      const std::string where = path();
      error = (where.empty() ? "" : where + ": ") + "the number " + token + " is out of range";
      return false;
    }
    // The library's message starts with its own tag in brackets and quotes
    // the token read last, which may be the rest of the text.
    std::string what = failure.what();
    const size_t tag_end = what.find("] ");
    if (tag_end != std::string::npos) what.erase(0, tag_end + 2);
    const std::string quoted = "'" + last_token + "'";
    const size_t at = what.find(quoted);
    if (at != std::string::npos) what.replace(at, quoted.size(), "'" + token + "'");
    error = "not valid JSON: " + what;
    return false;
  }
};

}  // namespace

bool parse_json_input(std::string_view text, json& value, std::string& error) {
  ValueBuilder builder;
  if (!json::sax_parse(text.begin(), text.end(), &builder)) {
    error = builder.error;
    return false;
  }
  value = std::move(builder.root);
  return true;
}
