// Reading and checking the parameter file.
#include "miner_params.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <string_view>

#include "common/file_open.h"
#include "common/run_files.h"
#include "common/text_lines.h"

namespace {

namespace key_name = parameter_key;

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
  std::printf("Error: parameter %s=%s: %s expected\n", key.c_str(), value.c_str(), expected);
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
    if (!parse_int(value, params.min_sup) || params.min_sup < 1) {
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
    if (!parse_real(value, target) || !(target > 0.0 && target <= 1.0)) {
      report_bad_value(key, value, "a number above 0 and at most 1");
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
  } else if (const auto fixed = std::find_if(
                 kFixedMinerSettings.begin(), kFixedMinerSettings.end(),
                 [&](const FixedMinerSetting& setting) { return setting.key == key; });
             fixed != kFixedMinerSettings.end()) {
    if (value != fixed->value) {
      std::printf("Error: parameter %s=%s is not supported\n", key.c_str(), value.c_str());
      return false;
    }
  } else {
    std::printf("Warning: unknown parameter %s ignored\n", key.c_str());
  }
  return true;
}

}  // namespace

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
  std::string line;
  int line_number = 0;
  while (read_text_line(file, line)) {
    ++line_number;
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      std::printf("Warning: line %d of %s is not key=value, ignored\n", line_number, path.c_str());
      continue;
    }
    const std::string key = line.substr(0, equals);
    if (!take_setting(key, line.substr(equals + 1), params)) ok = false;
    if (const auto found = required.find(key); found != required.end()) found->second = true;
  }
  std::fclose(file);
  for (const auto& [key, seen] : required) {
    if (!seen) {
      std::printf("Error: parameter %s missing in %s\n", key.c_str(), path.c_str());
      ok = false;
    }
  }
  if (ok && params.output.empty()) {
    std::printf("Error: parameter output is empty in %s\n", path.c_str());
    ok = false;
  }
  return ok;
}
