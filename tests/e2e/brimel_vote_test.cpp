// Whole experiments with the real miner: varnel runs Brimel on the vote data
// and carries its rules through validation to the summary line.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/run_files.h"
#include "support/scratch_dir.h"

namespace {

const std::string kVarnel = std::string(VARNEL_BIN_DIR) + "/varnel";

std::string strip_quotes(std::string text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\'')) text.erase(0, 1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\'' || text.back() == '\r'))
    text.pop_back();
  return text;
}

// Writes "<base>.data" and "<base>.names" from the ARFF file, the class
// (the last attribute there) moved to the first column.
void prepare_vote_data(const std::string& arff_path, const std::string& base) {
  std::ifstream in(arff_path);
  ASSERT_TRUE(in) << arff_path;
  std::vector<std::string> names;
  std::string records;
  std::string line;
  bool in_data = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '%') continue;
    if (line.rfind("@attribute", 0) == 0) {
      const size_t open = line.find('\'');
      names.push_back(line.substr(open + 1, line.find('\'', open + 1) - open - 1));
    } else if (line.rfind("@data", 0) == 0) {
      in_data = true;
    } else if (in_data) {
      std::vector<std::string> fields;
      std::stringstream split(line);
      for (std::string field; std::getline(split, field, ',');)
        fields.push_back(strip_quotes(field));
      records += fields.back();
      for (size_t i = 0; i + 1 < fields.size(); ++i) records += "," + fields[i];
      records += "\n";
    }
  }
  std::string names_text = names.back() + ": democrat, republican.\n";
  for (size_t i = 0; i + 1 < names.size(); ++i) names_text += names[i] + ": n, y.\n";
  write_file(base + ".names", names_text);
  write_file(base + ".data", records);
}

std::vector<long long> numbers_in(const std::string& text) {
  std::vector<long long> values;
  std::istringstream in(text);
  for (long long value; in >> value;) values.push_back(value);
  return values;
}

void expect_experiment_runs(const std::string& target_value, const std::string& output) {
  const CommandResult r =
      run_program(kVarnel, {"vote", "Class", target_value, "10", "0.05", output});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("Error: "), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("#significant rules at FDR"), std::string::npos) << r.output;

  // The rules the miner reports are the rules the driver read.
  const std::vector<long long> stat = numbers_in(read_file(output + ".cfptree.stat"));
  ASSERT_EQ(stat.size(), 14u);
  EXPECT_GT(stat[5], 0);
  const std::string summary = read_file(kSummaryFile);
  const size_t last = summary.rfind("RANDOM_VARNEL vote\t10 100 0.0500 0.0500\tCONFIDENCE 0.000\t");
  ASSERT_NE(last, std::string::npos) << summary;
  std::istringstream pieces(summary.substr(last));
  std::string piece;
  for (int i = 0; i < 5; ++i) std::getline(pieces, piece, '\t');
  EXPECT_EQ(numbers_in(piece).at(0), stat[5]) << summary;
}

TEST(BrimelVote, ExperimentsWithTheRealMinerRunToTheSummaryLine) {
  ScratchDir scratch;
  prepare_vote_data(std::string(VARNEL_DATA_DIR) + "/vote.arff", "vote");
  expect_experiment_runs("republican", "rep");
  expect_experiment_runs("", "ranked");
}

}  // namespace
