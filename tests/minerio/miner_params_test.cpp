// The parameter file: the driver's file is taken as written, and every value
// the miner cannot honour is refused with a message naming it.
#include "minerio/miner_params.h"

#include <gtest/gtest.h>

#include "brimel/generated_data.h"

namespace {

struct ParamsResult {
  bool ok = false;
  MinerParams params;
  std::string console;
};

ParamsResult read_text(const std::string& text) {
  ScratchDir scratch;
  write_file("orsk.para", text);
  ParamsResult result;
  testing::internal::CaptureStdout();
  result.ok = read_miner_params("orsk.para", result.params);
  result.console = testing::internal::GetCapturedStdout();
  return result;
}

std::string driver_text() { return parameter_text("d_part_0", "out", MinerSettings{}); }

std::string replace_line(std::string text, const std::string& key, const std::string& line) {
  const size_t start = text.find(key + "=");
  const size_t end = text.find('\n', start);
  return text.replace(start, end - start, line);
}

TEST(MinerParams, ReadsTheDriversFileWithCrLfLineEnds) {
  std::string text;
  for (const char c : driver_text()) {
    if (c == '\n') text.push_back('\r');
    text.push_back(c);
  }
  const ParamsResult r = read_text(text);
  ASSERT_TRUE(r.ok) << r.console;
  EXPECT_EQ(r.console, "");
  EXPECT_EQ(r.params.data_file, "d_part_0.data");
  EXPECT_EQ(r.params.names_file, "d_part_0.names");
  EXPECT_EQ(r.params.target_attribute, "class");
  EXPECT_EQ(r.params.target_value, "");
  EXPECT_EQ(r.params.output, "out");
  EXPECT_EQ(r.params.min_sup, 3);
  EXPECT_EQ(r.params.max_len, 100);
  EXPECT_EQ(r.params.max_pvalue, 0.05);
  EXPECT_TRUE(r.params.gen_tid_list);
}

TEST(MinerParams, ValueIsEverythingAfterTheFirstEquals) {
  const ParamsResult r =
      read_text(replace_line(driver_text(), "target_value", "target_value=a=b "));
  ASSERT_TRUE(r.ok) << r.console;
  EXPECT_EQ(r.params.target_value, "a=b ");
}

TEST(MinerParams, OptionalKeysTakeTheirDefaults) {
  const ParamsResult r =
      read_text("data_file=x.data\nnames_file=x.names\ntarget_attribute=c\nmin_sup=2\noutput=o\n");
  ASSERT_TRUE(r.ok) << r.console;
  EXPECT_EQ(r.params.target_value, "");
  EXPECT_EQ(r.params.max_len, 100);
  EXPECT_EQ(r.params.max_pvalue, 0.05);
  EXPECT_EQ(r.params.max_local_pvalue, 0.05);
  EXPECT_EQ(r.params.min_diff, 0.0);
  EXPECT_TRUE(r.params.gen_tid_list);
}

TEST(MinerParams, RefusesMissingRequiredKeysNamingEach) {
  for (const char* key : {"data_file", "names_file", "target_attribute", "min_sup", "output"}) {
    std::string text = driver_text();
    const size_t start = text.find(std::string(key) + "=");
    text.erase(start, text.find('\n', start) - start + 1);
    const ParamsResult r = read_text(text);
    EXPECT_FALSE(r.ok) << key;
    EXPECT_NE(r.console.find(std::string("Error: parameter ") + key + " missing"),
              std::string::npos)
        << r.console;
  }
}

TEST(MinerParams, RefusesNumbersOutOfRangeOrMalformed) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"min_sup", "0"},           {"min_sup", "-3"},
      {"min_sup", "3x"},          {"min_sup", ""},
      {"min_sup", "99999999999"}, {"max_len", "0"},
      {"max_pvalue", "0"},        {"max_pvalue", "1.5"},
      {"max_pvalue", "nan"},      {"max_local_pvalue", "-1"},
      {"min_diff", "-0.1"},       {"min_diff", "inf"},
      {"gen_tid_list", "maybe"}};
  for (const auto& [key, value] : bad) {
    const ParamsResult r = read_text(replace_line(driver_text(), key, key + "=" + value));
    EXPECT_FALSE(r.ok) << key << "=" << value;
    EXPECT_EQ(r.console.rfind("Error: parameter " + key + "=" + value, 0), 0u) << r.console;
  }
}

TEST(MinerParams, RefusesAFixedSettingWithAnotherValueButOnlyWarnsOfUnknownKeys) {
  const ParamsResult fixed =
      read_text(replace_line(driver_text(), "compare_mode", "compare_mode=groupwise"));
  EXPECT_FALSE(fixed.ok);
  EXPECT_EQ(fixed.console, "Error: parameter compare_mode=groupwise is not supported\n");

  const ParamsResult unknown = read_text(driver_text() + "colour=blue\n");
  EXPECT_TRUE(unknown.ok);
  EXPECT_EQ(unknown.console, "Warning: unknown parameter colour ignored\n");
}

// The smallest level is the smallest normal double: below it a level has
// lost digits, and the message says what is taken rather than "above 0".
TEST(MinerParams, LevelsFromTheSmallestNormalDoubleToOne) {
  for (const char* value : {"5e-324", "1e-310", "2.2250738585072009e-308"}) {
    const ParamsResult r =
        read_text(replace_line(driver_text(), "max_pvalue", std::string("max_pvalue=") + value));
    EXPECT_FALSE(r.ok) << value;
    EXPECT_EQ(r.console, std::string("Error: parameter max_pvalue=") + value +
                             ": a number from 2.2250738585072014e-308 to 1 expected\n");
  }
  const ParamsResult smallest =
      read_text(replace_line(driver_text(), "max_pvalue", "max_pvalue=2.2250738585072014e-308"));
  ASSERT_TRUE(smallest.ok) << smallest.console;
  EXPECT_EQ(smallest.params.max_pvalue, kMinLevel);
}

// Which of two values was meant cannot be told: the file is refused, naming
// the key, whichever key it is and whether the values differ.
TEST(MinerParams, RefusesAKeyGivenTwice) {
  for (const std::string line : {"min_sup=3", "output=elsewhere", "colour=blue"}) {
    const std::string text = driver_text() + "colour=red\n" + line + "\n";
    const ParamsResult r = read_text(text);
    const std::string key = line.substr(0, line.find('='));
    EXPECT_FALSE(r.ok) << line;
    EXPECT_NE(r.console.find("Error: parameter " + key +
                             " is given twice in orsk.para (again on "
                             "line 23)\n"),
              std::string::npos)
        << r.console;
  }
}

TEST(MinerParams, MissingFileIsReported) {
  ScratchDir scratch;
  MinerParams params;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_miner_params("absent.para", params));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: cannot open file absent.para for read\n");
}

}  // namespace
