// From raw data to results: varnel-prepare turns each bundled data set and a
// CSV into .data/.names, and the varnel command line it prints runs a whole
// experiment on the result with the real driver and miner.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/run_files.h"
#include "support/scratch_dir.h"

namespace {

const std::string kBin = VARNEL_BIN_DIR;
const std::string kData = std::string(VARNEL_DATA_DIR) + "/";

// The words of the suggested command line, undoing its shell quoting ('...').
std::vector<std::string> command_words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (const char c : line) {
    if (quoted) {
      if (c == '\'')
        quoted = false;
      else
        word.push_back(c);
    } else if (c == '\'') {
      quoted = in_word = true;
    } else if (c == ' ') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// Runs varnel-prepare, then the varnel line it printed last.
void prepare_and_run(const std::vector<std::string>& prepare_args, const std::string& base) {
  const CommandResult prepared = run_program(kBin + "/varnel-prepare", prepare_args);
  ASSERT_EQ(prepared.status, 0) << prepared.output;
  std::string last_line = prepared.output.substr(0, prepared.output.size() - 1);
  last_line = last_line.substr(last_line.rfind('\n') + 1);
  std::vector<std::string> words = command_words(last_line);
  ASSERT_EQ(words.size(), 7u) << last_line;
  ASSERT_EQ(words[0], "varnel");
  EXPECT_EQ(words[1], base);
  words.erase(words.begin());

  const CommandResult run = run_program(kBin + "/varnel", words);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("Error: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("#instances in testing: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("#significant rules at FDR "), std::string::npos) << run.output;
  const std::string summary = read_file(kSummaryFile);
  EXPECT_NE(summary.find("RANDOM_VARNEL " + base + "\t" + words[3] + " 100 0.0500 0.0500\t"),
            std::string::npos)
      << summary;
}

}  // namespace

TEST(PrepareExperiment, PreparedDataSetsRunThroughWholeExperiments) {
  if (!std::filesystem::exists(kBin + "/Brimel")) GTEST_SKIP() << "the miner Brimel is not built";
  ScratchDir dir;
  prepare_and_run({"--target", "Class", "--positive", "republican", kData + "vote.arff", "vote"},
                  "vote");
  // Without --positive the class keeps its values and the miner picks the
  // rule class itself.
  prepare_and_run({kData + "breast-cancer.arff", "breast-cancer"}, "breast-cancer");
  prepare_and_run(
      {"--target", "total", "--positive", "high", kData + "supermarket.arff", "supermarket"},
      "supermarket");

  std::string csv = "age,weight,sport,fit\n";
  for (int i = 0; i < 120; ++i) {
    const bool fit = i % 3 != 0;
    csv += std::to_string(20 + i % 50) + "," + std::to_string(50 + (i * 7) % 40) + "," +
           (fit ? "\"run, swim\"" : (i % 2 ? "none" : "?")) + "," + (fit ? "yes" : "no") + "\n";
  }
  write_file("fitness.csv", csv);
  prepare_and_run({"--positive", "yes", "fitness.csv", "fitness"}, "fitness");

  std::istringstream summary(read_file(kSummaryFile));
  size_t lines = 0;
  for (std::string line; std::getline(summary, line);) ++lines;
  EXPECT_EQ(lines, 4u);
}
