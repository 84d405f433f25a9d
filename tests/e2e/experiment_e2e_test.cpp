// Whole experiments: the real varnel executable in a fresh directory, with a
// scripted miner named Brimel that puts prepared output files in place. The
// dataset's strata are uniform, so every outcome is the same whatever the
// random split chooses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

#include "common/run_files.h"
#include "driver/miner_run.h"
#include "e2e/e2e_support.h"
#include "support/scratch_dir.h"
#include "validate/rule_sets.h"

namespace {

using e2e::lines_of;
using validation_test::append_int32;
using validation_test::write_tid_tree;

// Copies every prepared file "O<suffix>" to "<output><suffix>", the output
// name taken from the parameter file the way the real miner reads it.
const char* const kScriptedMiner =
    "#!/bin/sh\n"
    "[ \"$1\" = orsk.para ] || exit 2\n"
    "out=$(sed -n 's/^output=//p' orsk.para)\n"
    "for f in prepared/O*; do cp \"$f\" \"$out${f#prepared/O}\"; done\n"
    "echo \"scripted miner wrote $out\"\n";

const char* const kNames =
    "class: 0,1.\n"
    "colour: red,blue.\n"
    "size: big,small.\n"
    "shape: round,square.\n";

// Items 0 colour=red, 1 colour=blue, 2 size=big, 3 size=small, 4 shape=round.
const char* const kItemMap = "colour=red\ncolour=blue\nsize=big\nsize=small\nshape=round\n";

// 20 lines of the rule class and 30 others: each part gets 10 and 15.
constexpr int kClassLines = 20;
constexpr int kOtherLines = 30;
constexpr int kTrain = 25;
constexpr int kTest = 25;

std::string repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

// "from from+1 .. to-1 ", as in a tid-list line.
std::string number_range(int from, int to) {
  std::string text;
  for (int i = from; i < to; ++i) text += std::to_string(i) + " ";
  return text;
}

std::vector<int32_t> id_range(int from, int to) {
  std::vector<int32_t> ids;
  for (int i = from; i < to; ++i) ids.push_back(i);
  return ids;
}

// Rules file line i with tid-list line i, sorted, so that rules of equal test
// p-value compare whatever order the unstable sort left them in.
std::vector<std::string> rule_pairs(const std::string& rules, const std::string& tidlists) {
  const std::vector<std::string> rule_lines = lines_of(rules);
  const std::vector<std::string> tid_lines = lines_of(tidlists);
  EXPECT_EQ(rule_lines.size(), tid_lines.size());
  std::vector<std::string> pairs;
  for (size_t i = 0; i < std::min(rule_lines.size(), tid_lines.size()); ++i)
    pairs.push_back(rule_lines[i] + "|" + tid_lines[i]);
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

// A scratch directory holding the scripted miner, a varnel beside it and
// the attribute description; it is the working directory while the
// experiment lives.
struct Experiment {
  ScratchDir dir;
  std::string varnel = e2e::varnel_beside_scripted_miner();

  Experiment() {
    std::filesystem::create_directory("prepared");
    write_file("Brimel", kScriptedMiner);
    std::filesystem::permissions("Brimel", std::filesystem::perms::owner_all);
    write_file("d.names", kNames);
  }

  // The miner's output file "<output><suffix>" as the scripted miner leaves it.
  void prepare(const std::string& suffix, const std::string& bytes) {
    write_file("prepared/O" + suffix, bytes);
  }
  void unprepare(const std::string& suffix) { std::filesystem::remove("prepared/O" + suffix); }

  // The uniform dataset and the miner's files for it, with rules over a
  // pattern tree stored with full lists and diff-lists.
  void prepare_standard(const std::string& class_line, const std::string& other_line) {
    write_file("d.data",
               repeat(class_line + "\n", kClassLines) + repeat(other_line + "\n", kOtherLines));
    prepare(".cfptree.stat", "25 5 5 6 6 6 7 3 3 3 5 100 10 12\n");
    prepare(".tgtvalues.map", "0\n1\n");
    std::string labels;
    for (int t = 0; t < kTrain; ++t) append_int32(labels, t < 10 ? 1 : 0);
    prepare(".tgtvalues", labels);
    prepare(".attrvalue2item.txt", kItemMap);
    prepare(".sorted.rulenum.txt", "6\n0.05\n0.001\n0.05\n0\n4\n4\n4\n6\n5\n3\n0\n");
    prepare(".sorted.rules.txt",
            "0 1 0 10 10 1 1e-07 0 2.5\n"
            "1 2 0 2 10 10 1 1e-07 0.5 2.5\n"
            "2 3 4 0 2 10 10 1 1e-07 0.5 2.5\n"  // items stored unsorted
            "3 1 1 15 0 0 1e-07 0 0\n"
            "5 2 2 3 0 0 0 1 0 0\n"    // in no transaction of either part
            "6 0 25 10 0.4 1 0 1\n");  // no items: every transaction
    write_tid_tree("prepared/O",
                   {{1, -1, id_range(0, 10)},       // 0 {red}
                    {3, 0, {}},                     // 1 {red, big}
                    {3, 1, {}},                     // 2 {red, big, round}
                    {3, -1, id_range(0, 10)},       // 3 {blue}, against the root
                    {0, -1, {}},                    // 4 {big}, not stored
                    {3, 4, id_range(0, kTrain)},    // 5 {big, small}, past entry 4
                    {1, -1, id_range(0, kTrain)}},  // 6 {}
                   kTrain);
  }

  CommandResult run(const std::vector<std::string>& args) { return run_program(varnel, args); }
};

// The console up to and with the scripted miner's own line.
std::string console_head(int lines, int classes, int others) {
  return std::to_string(lines) + "\n" + std::to_string(classes) + " " + std::to_string(others) +
         "\n" + miner_command_line(e2e::scripted_miner()) + "scripted miner wrote o\n";
}

// Checks the summary file: `before_time` up to the elapsed time, which is any
// number with four decimals, then `after_time`.
void expect_summary(const std::string& summary, const std::string& before_time,
                    const std::string& after_time) {
  ASSERT_TRUE(summary.starts_with(before_time)) << summary;
  const size_t time_end = summary.find('\t', before_time.size());
  ASSERT_NE(time_end, std::string::npos) << summary;
  const std::string time = summary.substr(before_time.size(), time_end - before_time.size());
  const size_t point = time.find('.');
  EXPECT_TRUE(point != std::string::npos && point > 0 && time.size() == point + 5 &&
              time.find_first_not_of("0123456789.") == std::string::npos &&
              time.find('.', point + 1) == std::string::npos)
      << summary;
  EXPECT_EQ(summary.substr(time_end + 1), after_time);
}

const std::string kSettings = "RANDOM_VARNEL d\t5 100 0.0500 0.0500\tCONFIDENCE 0.000\t";
const std::string kClassTids = number_range(0, 10) + number_range(kTrain, kTrain + 10);
const std::string kOtherTids = number_range(10, kTrain) + number_range(kTrain + 10, kTrain + kTest);
const std::string kTinyP = "3.05926e-07";  // 1 / C(25, 10)

TEST(Experiment, TargetValueGiven) {
  Experiment e;
  e.prepare_standard("1,red,big,round", "0,blue, big,?");
  const CommandResult out = e.run({"d", "class", "1", "5", "0.05", "o"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.output, console_head(50, 20, 30) +
                            "load map...\n"
                            "#instances in training: 25\n"
                            "#instances in testing: 25\n"
                            "before validation: 6\n"
                            "no. of instances: 25\n"
                            "no. of positive: 10\n"
                            "validation...\n"
                            "after validation: 4\n"
                            "#significant rules at 5.00E-02 level: 4\n"
                            "#significant rules at 8.33E-03 level: 4\n"
                            "#significant rules at FDR 5.00E-02: 4 (3.059E-07)\n"
                            "\n");

  const std::string part = repeat("1,red,big,round\n", 10) + repeat("0,blue, big,?\n", 15);
  EXPECT_EQ(read_file("d_part_0.data"), part);
  EXPECT_EQ(read_file("d_part_1.data"), part);
  EXPECT_EQ(read_file("d_part_0.names"), kNames);
  EXPECT_EQ(read_file("orsk.para"),
            "data_file=d_part_0.data\nnames_file=d_part_0.names\nmaterialization_mode=freq only\n"
            "signal_type=rule\ncontext_attributes=\ncomparing_attributes=\n"
            "target_attribute=class\ntarget_value=1\ntest-statistic=fisher's exact test\n"
            "compare_mode=pairwise\nmin_sup=5\nmax_len=100\nmax_pvalue=0.050000\n"
            "max_local_pvalue=0.050000\neffect_size_method=confidence\nmin_diff=0.000000\n"
            "seeding_method=global\ndata_perm_method=swap\noutput_mode=all\ngen_tid_list=yes\n"
            "output=o\n");
  EXPECT_EQ(read_file("o.tgtvalues.txt"), "50 " + repeat("1 ", 10) + repeat("0 ", 15) +
                                              repeat("1 ", 10) + repeat("0 ", 15) + "\n");

  const std::string red_tids = "20 20 " + kClassTids;
  EXPECT_EQ(
      rule_pairs(read_file("o.sorted.rules.txt"), read_file("o.sorted.tidlist.txt")),
      (std::vector<std::string>{
          "1 0 0 " + kTinyP + " 0 0 |" + red_tids, "1 1 0 " + kTinyP + " 0 0 |30 0 " + kOtherTids,
          "2 0 2 0 " + kTinyP + " 0 0 |" + red_tids, "3 0 2 4 0 " + kTinyP + " 0 0 |" + red_tids}));
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"),
            "6\n0.05\n" + kTinyP + "\n0\n0\n4\n4\n4\n0\n0\n0\n0\n");
  expect_summary(read_file(kSummaryFile), kSettings,
                 "6 4 4 4\t5.000E-02 8.333E-03 3.059E-07\t4 4 4\t\n");
}

TEST(Experiment, FdrStepAcceptsMoreThanTheCorrectedLevel) {
  Experiment e;
  e.prepare_standard("1,red,big,round", "0,blue, big,?");
  e.prepare(".sorted.rules.txt",
            "0 1 0 10 10 1 1e-07 0 2.5\n"
            "3 1 1 15 0 0 1e-07 0 0\n"
            "6 0 25 10 0.4 1 0 1\n");
  e.prepare(".cfptree.stat", "25 5 5 6 6 3 7 3 3 3 5 100 10 12\n");
  const CommandResult out = e.run({"d", "class", "1", "3", "1", "o"});
  // At level 1 the rule without items (p = 1) is kept, last; it passes the
  // FDR bound 3 x 1/3 but not the corrected level 1/3.
  const std::vector<std::string> lines = lines_of(out.output);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"#significant rules at 1.00E+00 level: 3",
                                      "#significant rules at 3.33E-01 level: 2",
                                      "#significant rules at FDR 1.00E+00: 3 (1.000E+00)", ""}));
  const std::vector<std::string> rules = lines_of(read_file("o.sorted.rules.txt"));
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[2], "0 0 1 0 0 ");
  EXPECT_EQ(lines_of(read_file("o.sorted.tidlist.txt"))[2],
            "50 20 " + number_range(0, kTrain + kTest));
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "3\n1\n1\n0\n0\n3\n2\n3\n0\n0\n0\n0\n");
  expect_summary(read_file(kSummaryFile),
                 "RANDOM_VARNEL d\t3 100 1.0000 0.0500\tCONFIDENCE 0.000\t",
                 "3 3 2 3\t1.000E+00 3.333E-01 1.000E+00\t3 2 3\t\n");
}

TEST(Experiment, EmptyTargetValueTakesClassesFromTheMinersMap) {
  Experiment e;
  // Class 2 is unknown to the miner's class map, shape=oval to its item map.
  e.prepare_standard("1,red,big,round", "2,blue, big,oval");
  const CommandResult out = e.run({"d", "class", "", "5", "0.05", "o"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.output,
            console_head(50, 20, 30) + "load map...\n" +
                repeat("Warning: class 2 does not occur in mining data\nshape=oval\n", 15) +
                "#instances in training: 25\n"
                "#instances in testing: 25\n"
                "before validation: 6\n"
                "no. of instances: 25\n"
                "no. of positive: 10\n"
                "validation...\n"
                "after validation: 4\n"
                "#significant rules at 5.00E-02 level: 4\n"
                "#significant rules at 8.33E-03 level: 4\n"
                "#significant rules at FDR 5.00E-02: 4 (3.059E-07)\n"
                "\n");
  EXPECT_NE(read_file("orsk.para").find("\ntarget_value=\n"), std::string::npos);
  EXPECT_EQ(read_file("o.tgtvalues.txt"), "50 " + repeat("1 ", 10) + repeat("0 ", 15) +
                                              repeat("1 ", 10) + repeat("-1 ", 15) + "\n");
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"),
            "6\n0.05\n" + kTinyP + "\n0\n0\n4\n4\n4\n0\n0\n0\n0\n");
  expect_summary(read_file(kSummaryFile), kSettings,
                 "6 4 4 4\t5.000E-02 8.333E-03 3.059E-07\t4 4 4\t\n");
}

TEST(Experiment, EmptyRuleFile) {
  Experiment e;
  e.prepare_standard("1,red,big,round", "0,blue, big,?");
  e.prepare(".sorted.rules.txt", "");
  e.prepare(".cfptree.stat", "25 5 5 6 6 0 7 3 3 3 5 100 10 12\n");
  const CommandResult out = e.run({"d", "class", "1", "5", "0.05", "o"});
  EXPECT_EQ(out.output, console_head(50, 20, 30) +
                            "load map...\n"
                            "#instances in training: 25\n"
                            "#instances in testing: 25\n"
                            "before validation: 0\n"
                            "no. of instances: 25\n"
                            "no. of positive: 10\n"
                            "validation...\n"
                            "after validation: 0\n"
                            "#significant rules at 5.00E-02 level: 0\n"
                            "#significant rules at INF level: 0\n"
                            "#significant rules at FDR 5.00E-02: 0 (0.000E+00)\n"
                            "\n");
  EXPECT_EQ(read_file("o.sorted.rules.txt"), "");
  EXPECT_EQ(read_file("o.sorted.tidlist.txt"), "");
  EXPECT_EQ(read_file("o.sorted.rulenum.txt"), "0\n0.05\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n");
  expect_summary(read_file(kSummaryFile), kSettings, "0 0 0 0\t5.000E-02 INF 0.000E+00\t0 0 0\t\n");
}

// A stage that fails ends the experiment with its own "Error: " line and the
// driver's closing line: no follow-on errors, no result file, no summary line.
TEST(Experiment, FailedStageEndsTheExperiment) {
  const std::string closing = "Error: the experiment failed; no summary line was written\n";
  // Each case in a scratch directory of its own, whose name is in the lines.
  const struct {
    const char* name;
    std::function<void(Experiment&)> damage;
    std::function<std::string(const std::string&)> console;     // all of it, for the miner's path
    std::function<std::string(const std::string&)> own_errors;  // the driver's, in the record
    const char* failure;  // whose fault: the data's, or the system's ("io")
  } cases[] = {
      {"dataset missing", [](Experiment&) { std::filesystem::remove("d.data"); },
       [&](const std::string&) { return "Error: cannot open file d.data for read\n" + closing; },
       [](const std::string&) { return "Error: cannot open file d.data for read\n"; }, "data"},
      {"miner exits 3",
       [](Experiment&) {
         write_file("Brimel", "#!/bin/sh\necho 'Error: the miner met a problem'\nexit 3\n");
       },
       [&](const std::string& miner) {
         return "50\n20 30\n" + miner_command_line(miner) +
                "Error: the miner met a problem\nError: the miner " + miner +
                " exited with status 3\n" + closing;
       },
       [](const std::string& miner) {
         return "Error: the miner " + miner + " exited with status 3\n";
       },
       "data"},
      {"miner fails on a write",
       [](Experiment&) {
         write_file("Brimel", "#!/bin/sh\necho 'Error: cannot write file x'\nexit 75\n");
       },
       [&](const std::string& miner) {
         return "50\n20 30\n" + miner_command_line(miner) +
                "Error: cannot write file x\nError: the miner " + miner +
                " exited with status 75\n" + closing;
       },
       [](const std::string& miner) {
         return "Error: the miner " + miner + " exited with status 75\n";
       },
       "io"},
      {"statistics unreadable", [](Experiment& e) { e.prepare(".cfptree.stat", "twenty-five\n"); },
       [&](const std::string& miner) {
         return "50\n20 30\n" + miner_command_line(miner) +
                "scripted miner wrote o\n"
                "Error: no readable number of transactions in file o.cfptree.stat\n" +
                closing;
       },
       [](const std::string&) {
         return "Error: no readable number of transactions in file o.cfptree.stat\n";
       },
       "data"},
      {"tid-list file missing", [](Experiment& e) { e.unprepare(".tidlist"); },
       [&](const std::string& miner) {
         return "50\n20 30\n" + miner_command_line(miner) +
                "scripted miner wrote o\nload map...\n#instances in training: 25\n"
                "#instances in testing: 25\nError: cannot open file o.tidlist for read\n" +
                closing;
       },
       [](const std::string&) { return "Error: cannot open file o.tidlist for read\n"; }, "data"},
  };
  for (const auto& c : cases) {
    Experiment e;
    const std::string miner = e2e::scripted_miner();
    e.prepare_standard("1,red,big,round", "0,blue, big,?");
    // An earlier experiment's results under the same name.
    for (const char* suffix : {".sorted.tidlist.txt", ".rules.csv", ".tgtvalues.txt"})
      write_file(std::string("o") + suffix, "earlier");
    write_file(kSummaryFile, "earlier line\n");
    c.damage(e);
    const CommandResult out = e.run({"d", "class", "1", "5", "0.05", "o"});
    EXPECT_EQ(out.status, 1) << c.name;
    EXPECT_EQ(out.output, c.console(miner)) << c.name;
    EXPECT_EQ(read_file(kSummaryFile), "earlier line\n") << c.name;
    for (const char* suffix : {".sorted.tidlist.txt", ".rules.csv", ".tgtvalues.txt"})
      EXPECT_FALSE(std::filesystem::exists(std::string("o") + suffix)) << c.name << suffix;
    const nlohmann::json record = nlohmann::json::parse(read_file("o.experiment.json"));
    EXPECT_EQ(record["status"], "failed") << c.name;
    EXPECT_EQ(record["failure"], c.failure) << c.name;
    std::string errors;
    for (const auto& line : record["errors"]) errors += line.get<std::string>() + "\n";
    EXPECT_EQ(errors, c.own_errors(miner)) << c.name;
  }
}

TEST(Experiment, EmptyDatasetGivesAnEmptyTestPart) {
  Experiment e;
  write_file("d.data", "");
  const CommandResult out = e.run({"d", "class", "1", "5", "0.05", "o"});
  // An empty mining part cannot hold the target value: the experiment stops
  // before the miner runs.
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.output,
            "0\n0 0\n"
            "Warning: the minimum support 5 is larger than the 0 records of the mining part; "
            "no rule can be mined\n"
            "Error: no record of the mining part d_part_0.data has the target value 1\n"
            "Error: the experiment failed; no summary line was written\n");
  EXPECT_EQ(read_file("d_part_0.data"), "");
  EXPECT_EQ(read_file("d_part_1.data"), "");
  EXPECT_FALSE(std::filesystem::exists("orsk.para"));
  EXPECT_FALSE(std::filesystem::exists("o.sorted.rules.txt"));
}

TEST(Experiment, SecondExperimentAppendsItsSummaryLine) {
  Experiment e;
  e.prepare_standard("1,red,big,round", "0,blue, big,?");
  e.run({"d", "class", "1", "5", "0.05", "o"});
  e.run({"d", "class", "1", "7", "0.05", "o"});
  const std::vector<std::string> lines = lines_of(read_file(kSummaryFile));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("RANDOM_VARNEL d\t5 100")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("RANDOM_VARNEL d\t7 100")) << lines[1];
}

}  // namespace
