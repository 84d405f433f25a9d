// The study's rule-table reader: CSV records as the study's tables read
// them, from plain and gzip files alike; the key table against a map; rules
// put in one order.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "csv_record.h"
#include "key_codes.h"
#include "rule_coder.h"

namespace {

std::string temp_path(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          (name + "." + std::to_string(::getpid()) + ".csv"))
      .string();
}

void write_plain(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void write_gzip(const std::string& path, const std::string& bytes) {
  gzFile file = gzopen(path.c_str(), "wb");
  gzwrite(file, bytes.data(), static_cast<unsigned>(bytes.size()));
  gzclose(file);
}

// Every record of the file, or "error: ..." at the first fault.
std::vector<std::vector<std::string>> records_of(const std::string& path) {
  CsvRecords records(path);
  std::vector<std::vector<std::string>> all;
  std::vector<std::string> fields;
  int count = 0;
  std::string error;
  for (RecordRead read; (read = records.next(fields, count, error)) != RecordRead::kEnd;) {
    if (read == RecordRead::kError) return {{"error: " + error}};
    all.emplace_back(fields.begin(), fields.begin() + count);
  }
  return all;
}

using Records = std::vector<std::vector<std::string>>;

TEST(CsvRecords, FieldsAsTheTablesReadThemFromPlainAndGzipFiles) {
  const std::vector<std::pair<std::string, Records>> cases = {
      {"a,b,c\n", {{"a", "b", "c"}}},
      {"\"a,b\",c\n", {{"a,b", "c"}}},
      {"\"say \"\"hi\"\"\",x\n", {{"say \"hi\"", "x"}}},
      {"\"two\nlines\",x\n", {{"two\nlines", "x"}}},
      {"a\"b,c\n", {{"a\"b", "c"}}},
      {"\"ab\"c,d\n", {{"abc", "d"}}},
      {"a,b\r\nc\r\n", {{"a", "b"}, {"c"}}},
      {"a,\n\n,\n", {{"a", ""}, {}, {"", ""}}},
      {"no,line,end", {{"no", "line", "end"}}},
      {"", {}},
      {"\"open\nand never closed\n", {{"error: a quote never closed"}}},
      {std::string("a,b\0c\n", 6), {{"error: a NUL byte"}}},
  };
  const std::string path = temp_path("records");
  for (const auto& [bytes, expected] : cases) {
    SCOPED_TRACE(bytes);
    write_plain(path, bytes);
    EXPECT_EQ(records_of(path), expected);
    write_gzip(path, bytes);
    EXPECT_EQ(records_of(path), expected);
  }
  // A gzip stream cut short is an error, not a shorter table.
  write_gzip(path, std::string(100000, 'x') + "\n");
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 10);
  EXPECT_EQ(records_of(path).size(), 1u);
  EXPECT_EQ(records_of(path)[0][0].rfind("error: ", 0), 0u);
  // A line no rule table has is refused before it fills memory.
  write_plain(path, std::string((size_t{64} << 20) + 1, 'x'));
  EXPECT_EQ(records_of(path), (Records{{"error: a line longer than 64 MiB"}}));
  std::filesystem::remove(path);
  EXPECT_FALSE(CsvRecords(path).ok());
}

TEST(KeyCodes, NumberKeysInTheOrderMetThroughGrowthAndClearing) {
  KeyCodes codes;
  std::map<std::string, int64_t> reference;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 30000; ++i) {
      // Keys that share long starts, the empty key, and each met twice.
      const std::string key = i == 0 ? "" : "a=1 & b=" + std::to_string(i * 7919 % 30000);
      bool added = false;
      const int64_t code = codes.code_of(key, added);
      EXPECT_EQ(added, reference.count(key) == 0) << key;
      if (added) reference[key] = code;
      EXPECT_EQ(code, reference[key]) << key;
      EXPECT_EQ(codes.code_of(key, added), code);
      EXPECT_FALSE(added);
    }
    EXPECT_EQ(codes.size(), static_cast<int64_t>(reference.size()));
    EXPECT_EQ(codes.find("never added"), -1);
    codes.clear();
    reference.clear();
    EXPECT_EQ(codes.find("a=1 & b=7919"), -1);
  }
}

TEST(CanonicalRule, ItemsInOneOrderWhateverTheWrittenOne) {
  EXPECT_EQ(canonical_rule("b=2 & a=1 & c=x&y"), "a=1 & b=2 & c=x&y");
  EXPECT_EQ(canonical_rule("a=1 & b=2 & c=x&y"), "a=1 & b=2 & c=x&y");
  EXPECT_EQ(canonical_rule("only=1"), "only=1");
  EXPECT_EQ(canonical_rule(""), "");
}

}  // namespace
