// varnel-read-runs: reads the runs of a study for its database, one after
// another: each run's record and, when the run succeeded, its rule table's
// rows as codes (rule_coder.h), written on standard output as coded_stream.h
// describes. The study's tables job reads them while it enters the runs
// before (workflow/scripts/study_db.py).
//
//   varnel-read-runs --chunk-rows N --known-keys N LIST
//
// LIST holds, for each run, its record's path and its rule table's path,
// each followed by a NUL byte.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "coded_stream.h"
#include "rule_coder.h"

namespace {

constexpr const char* kUsage = "usage: varnel-read-runs --chunk-rows N --known-keys N LIST";

bool read_file(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::strerror(errno);
    return false;
  }
  std::ostringstream whole;
  whole << in.rdbuf();
  if (in.bad()) {
    error = "a read failed";
    return false;
  }
  text = whole.str();
  return true;
}

// A count of rows or keys: above 0, and codes stay below 2^31.
bool count_argument(const char* text, int64_t& value) {
  const char* end = text + std::strlen(text);
  auto [stop, fault] = std::from_chars(text, end, value);
  return fault == std::errc() && stop == end && value > 0 && value < (int64_t{1} << 31);
}

// The record's text when it is JSON; sets `succeeded` when it is an object
// whose status is "ok".
bool read_record(const std::string& path, std::string& text, bool& succeeded) {
  std::string error;
  succeeded = false;
  if (!read_file(path, text, error)) {
    text = error;
    return false;
  }
  nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  if (record.is_discarded()) {
    text = "it is no JSON";
    return false;
  }
  auto status = record.is_object() ? record.find("status") : record.end();
  succeeded = record.is_object() && status != record.end() && *status == "ok";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t chunk_rows = 0, known_keys = 0;
  const char* list = nullptr;
  for (int at = 1; at < argc; ++at) {
    std::string option = argv[at];
    if ((option == "--chunk-rows" || option == "--known-keys") && at + 1 < argc) {
      if (!count_argument(argv[++at], option == "--chunk-rows" ? chunk_rows : known_keys)) {
        std::fprintf(stderr, "Error: %s needs a whole number from 1 to 2^31 - 1\n", option.c_str());
        return 2;
      }
    } else if (list == nullptr && option.rfind("--", 0) != 0) {
      list = argv[at];
    } else {
      std::fprintf(stderr, "Error: %s\n", kUsage);
      return 2;
    }
  }
  if (list == nullptr || chunk_rows == 0 || known_keys == 0) {
    std::fprintf(stderr, "Error: %s\n", kUsage);
    return 2;
  }
  std::string listed, error;
  if (!read_file(list, listed, error)) {
    std::fprintf(stderr, "Error: cannot read %s: %s\n", list, error.c_str());
    return 1;
  }
  std::vector<std::string> paths;
  for (size_t at = 0, end; (end = listed.find('\0', at)) != std::string::npos; at = end + 1)
    paths.emplace_back(listed, at, end - at);
  if (paths.size() % 2 != 0) {
    std::fprintf(stderr, "Error: %s holds no pairs of paths\n", list);
    return 1;
  }

  static char buffer[1 << 20];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  RuleCoder coder(known_keys, chunk_rows);
  bool written = true;
  auto send = [&](const RuleChunk& chunk) { written = written && write_chunk(stdout, chunk); };
  for (size_t run = 0; run < paths.size() && written; run += 2) {
    std::string text;
    bool succeeded = false;
    bool readable = read_record(paths[run], text, succeeded);
    written = write_record(stdout, readable, text);
    std::error_code ignored;
    if (written && succeeded && std::filesystem::is_regular_file(paths[run + 1], ignored)) {
      std::string failure = coder.code_table(paths[run + 1], send);
      if (!failure.empty()) {
        write_failure(stdout, failure);
        return 1;
      }
    }
    written = written && write_end(stdout);
  }
  // A reader that stopped reading ended the study's job, which says why.
  return written ? 0 : 1;
}
