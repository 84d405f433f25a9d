// Writing, reading and checking the parameter file.
#include "minerio/miner_params.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "common/text_lines.h"

namespace {

namespace key_name = parameter_key;

constexpr const char* kPermutationsExpected = "an integer from 0 to 100000";
static_assert(kMaxPermutations == 100000);

bool parse_int(const std::string& text, int32_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

bool parse_real(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

void report_bad_value(const std::string& key, const std::string& value, const char* expected) {
  report_error("parameter %s=%s: %s expected", key.c_str(), value.c_str(), expected);
}

// Stores one setting; false after an "Error: " line.
bool take_setting(const std::string& key, const std::string& value, MinerParams& params) {
  if (key == key_name::data_file) {
    params.data_file = value;
  } else if (key == key_name::names_file) {
    params.names_file = value;
  } else if (key == key_name::target_attribute) {
    params.target_attribute = value;
  } else if (key == key_name::target_value) {
    params.target_value = value;
  } else if (key == key_name::output) {
    params.output = value;
  } else if (key == key_name::min_sup) {
    if (!parse_min_sup(value, params.min_sup)) {
      report_bad_value(key, value, "an integer of at least 1");
      return false;
    }
  } else if (key == key_name::max_len) {
    if (!parse_int(value, params.max_len) || params.max_len < 1) {
      report_bad_value(key, value, "an integer of at least 1");
      return false;
    }
  } else if (key == key_name::max_pvalue || key == key_name::max_local_pvalue) {
    double& target = key == key_name::max_pvalue ? params.max_pvalue : params.max_local_pvalue;
    if (!parse_max_pvalue(value, target)) {
      report_bad_value(key, value, level_range_text().c_str());
      return false;
    }
  } else if (key == key_name::min_diff) {
    if (!parse_real(value, params.min_diff) || params.min_diff < 0.0) {
      report_bad_value(key, value, "a number of at least 0");
      return false;
    }
  } else if (key == key_name::gen_tid_list) {
    if (value != "yes" && value != "no") {
      report_bad_value(key, value, "yes or no");
      return false;
    }
    params.gen_tid_list = value == "yes";
  } else if (key == key_name::direct) {
    if (value != "yes" && value != "no") {
      report_bad_value(key, value, "yes or no");
      return false;
    }
    params.direct = value == "yes";
  } else if (key == key_name::tarone_lowered) {
    if (value != "yes" && value != "no") {
      report_bad_value(key, value, "yes or no");
      return false;
    }
    params.tarone_lowered = value == "yes";
  } else if (key == key_name::permutations) {
    if (!parse_permutations(value, params.permutations)) {
      report_bad_value(key, value, kPermutationsExpected);
      return false;
    }
  } else if (key == key_name::top_k) {
    if (!parse_top_k(value, params.top_k)) {
      report_bad_value(key, value, "an integer of at least 1");
      return false;
    }
  } else if (key == key_name::permutation_seed) {
    if (!parse_permutation_seed(value, params.permutation_seed)) {
      report_bad_value(key, value, "an integer from 0 to 18446744073709551615");
      return false;
    }
  } else if (const auto fixed =
                 std::find_if(kFixedMinerSettings.begin(), kFixedMinerSettings.end(),
                              [&](const FixedMinerSetting& setting) { return setting.key == key; });
             fixed != kFixedMinerSettings.end()) {
    if (value != fixed->value) {
      report_error("parameter %s=%s is not supported", key.c_str(), value.c_str());
      return false;
    }
  } else {
    report_warning("unknown parameter %s ignored", key.c_str());
  }
  return true;
}

// "%f", as the file has always had, unless six decimals would change the
// value (a level of 1e-7 would become 0): then the shortest text that reads
// back as the same number.
std::string real_text(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  if (std::strtod(text, nullptr) == value) return text;
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace

bool holds_line_break(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool parse_min_sup(const std::string& text, int32_t& value) {
  int32_t parsed = 0;
  if (!parse_int(text, parsed) || parsed < 1) return false;
  value = parsed;
  return true;
}

bool parse_permutations(const std::string& text, int32_t& value) {
  int32_t parsed = 0;
  if (!parse_int(text, parsed) || parsed < 0 || parsed > kMaxPermutations) return false;
  value = parsed;
  return true;
}

bool parse_top_k(const std::string& text, int32_t& value) {
  int32_t parsed = 0;
  if (!parse_int(text, parsed) || parsed < 1) return false;
  value = parsed;
  return true;
}

bool parse_permutation_seed(const std::string& text, uint64_t& value) {
  // strtoull would take "-1" for the largest value.
  const char* end = text.data() + text.size();
  uint64_t parsed = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, parsed);
  if (text.empty() || error != std::errc() || stop != end) return false;
  value = parsed;
  return true;
}

bool parse_max_pvalue(const std::string& text, double& value) {
  double parsed = 0.0;
  if (!parse_real(text, parsed) || !(parsed >= kMinLevel && parsed <= 1.0)) return false;
  value = parsed;
  return true;
}

std::string level_range_text() {
  char text[64];
  std::snprintf(text, sizeof text, "a number from %.17g to 1", kMinLevel);
  return text;
}

MinerParams miner_params_for(const std::string& data_base, const std::string& target_attribute,
                             const std::string& target_value, int32_t min_sup, double max_pvalue,
                             const std::string& output) {
  MinerParams params;
  params.data_file = data_file(data_base);
  params.names_file = names_file(data_base);
  params.target_attribute = target_attribute;
  params.target_value = target_value;
  params.min_sup = min_sup;
  params.max_pvalue = max_pvalue;
  params.output = output;
  return params;
}

bool write_miner_params(const std::string& path, const MinerParams& params) {
  namespace key = parameter_key;
  const std::pair<std::string_view, const std::string*> texts[] = {
      {key::data_file, &params.data_file},
      {key::names_file, &params.names_file},
      {key::target_attribute, &params.target_attribute},
      {key::target_value, &params.target_value},
      {key::output, &params.output}};
  for (const auto& [name, value] : texts) {
    if (holds_line_break(*value)) {
      report_error("parameter %.*s holds a line break", static_cast<int>(name.size()), name.data());
      return false;
    }
  }
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return false;
  auto line = [&](std::string_view name, std::string_view value) {
    std::fprintf(file, "%.*s=%.*s\n", static_cast<int>(name.size()), name.data(),
                 static_cast<int>(value.size()), value.data());
  };
  // The fixed settings go between the others in the order the parameter
  // files have always had.
  auto fixed = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
      line(kFixedMinerSettings[i].key, kFixedMinerSettings[i].value);
  };
  line(key::data_file, params.data_file);
  line(key::names_file, params.names_file);
  fixed(0, 4);
  line(key::target_attribute, params.target_attribute);
  line(key::target_value, params.target_value);
  fixed(4, 6);
  line(key::min_sup, std::to_string(params.min_sup));
  line(key::max_len, std::to_string(params.max_len));
  line(key::max_pvalue, real_text(params.max_pvalue));
  line(key::max_local_pvalue, real_text(params.max_local_pvalue));
  fixed(6, 7);
  line(key::min_diff, real_text(params.min_diff));
  fixed(7, kFixedMinerSettings.size());
  line(key::gen_tid_list, params.gen_tid_list ? "yes" : "no");
  line(key::output, params.output);
  if (params.top_k > 0) line(key::top_k, std::to_string(params.top_k));
  if (params.direct) {
    line(key::direct, "yes");
    line(key::permutations, std::to_string(params.permutations));
    line(key::permutation_seed, std::to_string(params.permutation_seed));
    if (params.tarone_lowered) line(key::tarone_lowered, "yes");
  }
  // A parameter file cut short by a full disk would run the miner on
  // whatever settings survived.
  return close_written(file, path);
}

bool read_miner_params(const std::string& path, MinerParams& params) {
  std::FILE* file = open_for_read(path);
  if (file == nullptr) return false;
  bool ok = true;
  std::map<std::string, bool, std::less<>> required = {
      {std::string(key_name::data_file), false},
      {std::string(key_name::names_file), false},
      {std::string(key_name::target_attribute), false},
      {std::string(key_name::min_sup), false},
      {std::string(key_name::output), false}};
  std::set<std::string, std::less<>> seen;
  std::string line;
  int line_number = 0;
  while (read_text_line(file, line)) {
    ++line_number;
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      report_warning("line %d of %s is not key=value, ignored", line_number, path.c_str());
      continue;
    }
    const std::string key = line.substr(0, equals);
    if (!seen.insert(key).second) {
      report_error("parameter %s is given twice in %s (again on line %d)", key.c_str(),
                   path.c_str(), line_number);
      ok = false;
      continue;
    }
    if (!take_setting(key, line.substr(equals + 1), params)) ok = false;
    if (const auto found = required.find(key); found != required.end()) found->second = true;
  }
  std::fclose(file);
  for (const auto& [key, seen] : required) {
    if (!seen) {
      report_error("parameter %s missing in %s", key.c_str(), path.c_str());
      ok = false;
    }
  }
  if (ok && params.output.empty()) {
    report_error("parameter output is empty in %s", path.c_str());
    ok = false;
  }
  return ok;
}
