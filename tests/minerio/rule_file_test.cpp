// The rule file reader: records, shared buffers, and damaged files.
#include <gtest/gtest.h>

#include "minerio/miner_files.h"
#include "minerio/rule_file.h"

namespace {

using List = std::vector<int32_t>;

struct RuleFileTest : testing::Test {
  ScratchDir dir;
  RuleSet rules;

  // Reads `text` as a rule file over `transactions`; returns the console.
  std::string read(const std::string& text, int32_t transactions = 100, int* count = nullptr) {
    write_file("o.sorted.rules.txt", text);
    int read_count = -1;
    std::string console =
        capture_stdout([&] { read_count = read_rules("o", transactions, rules); });
    EXPECT_EQ(read_count, static_cast<int>(rules.records.size()));
    if (count != nullptr) *count = read_count;
    return console;
  }

  // The supports of the records read: the tid-list room validation takes.
  size_t support_total() const {
    size_t total = 0;
    for (const RuleRecord& r : rules.records) total += static_cast<size_t>(r.support);
    return total;
  }

  List items_of(size_t i) const {
    const RuleRecord& r = rules.records[i];
    return List(r.items, r.items + r.length);
  }
};

TEST_F(RuleFileTest, RecordsShareTheirBuffers) {
  int count = 0;
  EXPECT_EQ(read("12 3 7 3 5 40 30 0.75 1.5e-06 0.01 1.3\n"
                 "4 0 90 60 0.66 0.02 0 1\n"
                 "9 1 2 0 0 0 1 0 1",
                 100, &count),
            "");
  ASSERT_EQ(count, 3);
  const RuleRecord& first = rules.records[0];
  EXPECT_EQ(first.preorder, 12);
  EXPECT_EQ(items_of(0), (List{3, 5, 7}));
  EXPECT_EQ(first.support, 40);
  EXPECT_EQ(first.class_support, 30);
  EXPECT_EQ(first.pvalue, 1.5e-06);
  EXPECT_EQ(rules.records[1].length, 0);
  EXPECT_EQ(rules.records[1].pvalue, 0.02);
  EXPECT_EQ(items_of(2), List{2});
  EXPECT_EQ(rules.records[2].support, 0);

  // One buffer for all items, back to back.
  EXPECT_EQ(rules.item_buffer, (List{3, 5, 7, 2}));
  EXPECT_EQ(support_total(), 130u);
  EXPECT_EQ(first.items, rules.item_buffer.data());
  EXPECT_EQ(rules.records[2].items, rules.item_buffer.data() + 3);
}

TEST_F(RuleFileTest, LineEndsAndBlankLinesCarryNoMeaning) {
  EXPECT_EQ(read("\n\n1\n2 8\r\n4 5 3\n0.5 0.01 0 2\r\n\r\n"), "");
  ASSERT_EQ(rules.records.size(), 1u);
  EXPECT_EQ(items_of(0), (List{4, 8}));
  EXPECT_EQ(rules.records[0].support, 5);
}

TEST_F(RuleFileTest, EmptyAndMissingFilesGiveNoRules) {
  EXPECT_EQ(read(""), "");
  EXPECT_TRUE(rules.records.empty() && rules.item_buffer.empty() && support_total() == 0);
  std::filesystem::remove("o.sorted.rules.txt");
  int count = -1;
  EXPECT_EQ(capture_stdout([&] { count = read_rules("o", 100, rules); }),
            "Error: cannot open file o.sorted.rules.txt for read\n");
  EXPECT_EQ(count, 0);
}

TEST_F(RuleFileTest, UnreadableValueStopsReadingAndKeepsCompleteRecords) {
  const std::string good = "1 1 5 10 5 0.5 0.01 0 2\n";
  const std::string cases[] = {
      good + "2 1 6 x 5 0.5 0.01 0 2\n" + good,
      good + "2 1 6 10 5 0.5 0.01 0\n",  // cut short
      good + "2 3 6 7\n",                // length beyond the words
      good + "2 2000000000 6 7 8 9 10 11 12 13 14\n",
      good + "x\n" + good,
      good + "2 1 99999999999 10 5 0.5 0.01 0 2\n",  // item beyond 32 bits
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(read(text),
              "Error: rule 2 of file o.sorted.rules.txt is cut short or holds a word that is not a "
              "number; reading stops there\n")
        << text;
    ASSERT_EQ(rules.records.size(), 1u) << text;
    EXPECT_EQ(rules.item_buffer, List{5});
    EXPECT_EQ(support_total(), 10u);
  }
}

TEST_F(RuleFileTest, NegativeLengthStopsReading) {
  EXPECT_EQ(read("1 -3 5 10 5 0.5 0.01 0 2\n1 1 5 10 5 0.5 0.01 0 2\n"),
            "Error: negative pattern length -3 in rule 1 of file o.sorted.rules.txt; reading stops "
            "there\n");
  EXPECT_TRUE(rules.records.empty());
}

TEST_F(RuleFileTest, ImpossibleSupportDropsOnlyThatRule) {
  EXPECT_EQ(read("1 1 5 10 5 0.5 0.01 0 2\n"
                 "2 2 6 7 101 5 0.5 0.01 0 2\n"
                 "3 1 8 -1 0 0.5 0.01 0 2\n"
                 "4 1 9 100 5 0.5 0.01 0 2\n"),
            "Error: impossible support 101 of rule 2 in file o.sorted.rules.txt; the rule is "
            "dropped\n"
            "Error: impossible support -1 of rule 3 in file o.sorted.rules.txt; the rule is "
            "dropped\n");
  ASSERT_EQ(rules.records.size(), 2u);
  EXPECT_EQ(rules.records[1].preorder, 4);
  EXPECT_EQ(rules.item_buffer, (List{5, 9}));
  EXPECT_EQ(support_total(), 110u);
}

TEST_F(RuleFileTest, WithNoTransactionsKnownOnlyEmptySupportsAreKept) {
  // Without statistics no support can size memory: a claimed 2^31 - 1 per
  // rule would ask for gigabytes of tid-list room.
  EXPECT_EQ(read("1 1 5 2147483647 5 0.5 0.01 0 2\n2 0 0 0 0.5 0.01 0 2\n", 0),
            "Error: impossible support 2147483647 of rule 1 in file o.sorted.rules.txt; the rule "
            "is dropped\n");
  ASSERT_EQ(rules.records.size(), 1u);
  EXPECT_EQ(rules.records[0].preorder, 2);
  EXPECT_TRUE(support_total() == 0);
}

TEST_F(RuleFileTest, ReadingAgainReplacesTheSet) {
  read("1 1 5 10 5 0.5 0.01 0 2\n1 1 6 10 5 0.5 0.01 0 2\n");
  read("7 1 3 2 1 0.5 0.01 0 2\n");
  ASSERT_EQ(rules.records.size(), 1u);
  EXPECT_EQ(rules.item_buffer, List{3});
  EXPECT_EQ(support_total(), 2u);
}

// The miner's lines, read back: the values the reader takes are exact.
TEST_F(RuleFileTest, WrittenLinesReadBack) {
  std::FILE* file = std::fopen("o.sorted.rules.txt", "w");
  ASSERT_NE(file, nullptr);
  const int32_t items[] = {2, 9};
  write_rule_line(file, RuleFileLine{5, items, 40, 30, 0.75, 1.0 / 3.0, 0.01, 1.3});
  write_rule_line(file, RuleFileLine{6, {}, 3, 1, 1.0 / 3.0, 0.5, 0.0, 1.0});
  std::fclose(file);
  EXPECT_EQ(read_file("o.sorted.rules.txt"),
            "5 2 2 9 40 30 0.75 0.33333333333333331 0.01 1.3\n"
            "6 0 3 1 0.33333333333333331 0.5 0 1\n");
  EXPECT_EQ(capture_stdout([&] { read_rules("o", 100, rules); }), "");
  ASSERT_EQ(rules.records.size(), 2u);
  EXPECT_EQ(rules.records[0].preorder, 5);
  EXPECT_EQ(items_of(0), (List{2, 9}));
  EXPECT_EQ(rules.records[0].support, 40);
  EXPECT_EQ(rules.records[0].class_support, 30);
  EXPECT_EQ(rules.records[0].pvalue, 1.0 / 3.0);
  EXPECT_EQ(rules.records[1].length, 0);
}

}  // namespace

namespace {

// A rule file cut at a line end reads as whole lines; only the count the
// statistics file states gives it away. Without a readable count there is
// nothing to check against.
TEST_F(RuleFileTest, TheRuleCountTheStatisticsFileStatesIsChecked) {
  const std::string three =
      "12 1 3 40 30 0.75 1.5e-06 0.01 1.3\n4 0 90 60 0.66 0.02 0 1\n9 1 2 0 0 0 1 0 1\n";
  const std::string two = three.substr(0, three.rfind("9 1 2"));
  const struct {
    std::string statistics;  // empty: no statistics file
    std::string rules;
    std::string console;
  } cases[] = {
      {"100 5 5 6 6 3 7 3 3 3 5 100 10 12\n", three, ""},
      {"100 5 5 6 6 3 7 3 3 3 5 100 10 12\n", two,
       "Error: file o.sorted.rules.txt holds 2 rules, not the 3 that file o.cfptree.stat "
       "states\n"},
      {"100 5 5 6 6 1 7 3 3 3 5 100 10 12\n", two,
       "Error: file o.sorted.rules.txt holds 2 rules, not the 1 that file o.cfptree.stat "
       "states\n"},
      {"", two, ""},
      {"100 5 5 6 6 many 7\n", two, ""},
      {"100 5 5 6 6 3", two, ""},  // the count runs into the file's end: not trusted
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statistics + c.rules);
    std::filesystem::remove("o.cfptree.stat");
    if (!c.statistics.empty()) write_file("o.cfptree.stat", c.statistics);
    EXPECT_EQ(read(c.rules), c.console);
  }
  // A record cut inside is reported as such, not once more as a count.
  write_file("o.cfptree.stat", "100 5 5 6 6 3 7 3 3 3 5 100 10 12\n");
  const std::string cut = read(two + "9 1");
  EXPECT_EQ(cut.find("holds 2 rules"), std::string::npos) << cut;
  EXPECT_NE(cut.find("is cut short"), std::string::npos) << cut;
}

}  // namespace
