// Every reader of the miner's files fed truncated, random and hostile files.
// The tests check little beyond "no crash, no hang, no stray write"; they are
// meant to run under AddressSanitizer and UndefinedBehaviorSanitizer.
#include <gtest/gtest.h>

#include <random>

#include "minerio/miner_files.h"
#include "minerio/mining_stats.h"
#include "minerio/rule_count.h"
#include "minerio/rule_file.h"
#include "minerio/tidlist_store.h"

namespace {

// Text made of the words a reader might meet: numbers of every size and
// sign, reals, garbage, NUL bytes and line ends of both kinds.
std::string random_text(std::mt19937& random, int words) {
  static const char* const pieces[] = {
      "0",           "1",          "7",          "-1",
      "-2147483648", "2147483647", "2147483648", "99999999999999999999",
      "0.5",         "1e-300",     "1e999",      "nan",
      "x",           "+",          "-",          "",
      "\r\n",        "\n",         "\t",         "3",
      "12",          "40"};
  std::string text;
  for (int i = 0; i < words; ++i) {
    const std::string piece = pieces[random() % std::size(pieces)];
    text += piece.empty() ? std::string(1, '\0') : piece;
    text += random() % 4 == 0 ? "\n" : " ";
  }
  return text;
}

std::string random_bytes(std::mt19937& random, size_t length) {
  std::string bytes;
  for (size_t i = 0; i < length; ++i) bytes.push_back(static_cast<char>(random()));
  return bytes;
}

struct ReaderFuzzTest : testing::Test {
  ScratchDir dir;
  std::mt19937 random{424242};
};

TEST_F(ReaderFuzzTest, SmallTextFiles) {
  for (int round = 0; round < 250; ++round) {
    const std::string text = round % 3 == 0 ? random_bytes(random, random() % 120)
                                            : random_text(random, static_cast<int>(random() % 40));
    for (const char* name :
         {"o.cfptree.stat", "o.tgtvalues.map", "o.sorted.rules.txt", "o.sorted.rulenum.txt"})
      write_file(name, text);
    capture_stdout([&] {
      read_mining_statistics("o");
      ClassValueMap map;
      read_class_value_map("o", map);
      // The rule reader trusts supports up to the number of transactions.
      RuleSet rules;
      read_rules("o", 50, rules);
      RuleCountRecord counts;
      read_rule_count(std::fopen("o.sorted.rulenum.txt", "rt"), counts);
    });
  }
}

TEST_F(ReaderFuzzTest, TruncatedRuleFiles) {
  const std::string good =
      "12 3 7 3 5 40 30 0.75 1.5e-06 0.01 1.3\n4 0 20 10 0.66 0.02 0 1\n9 1 2 0 0 0 1 0 1\n";
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    write_file("o.sorted.rules.txt", good.substr(0, cut));
    RuleSet rules;
    int count = 0;
    capture_stdout([&] { count = read_rules("o", 50, rules); });
    EXPECT_LE(count, 3);
    // Whatever was kept is complete and points inside the set's buffers.
    for (const RuleRecord& r : rules.records) {
      EXPECT_GE(r.items, rules.item_buffer.data());
      EXPECT_LE(r.items + r.length, rules.item_buffer.data() + rules.item_buffer.size());
    }
  }
}

TEST_F(ReaderFuzzTest, ClassLabelFilesOfAnyLength) {
  for (size_t length = 0; length < 40; ++length) {
    write_file("o.tgtvalues", random_bytes(random, length));
    TrainingClassLabels labels(static_cast<size_t>(random() % 12));
    capture_stdout(
        [&] { read_training_class_labels("o", static_cast<int32_t>(labels.size()), labels); });
  }
}

// A directory and list file of random small integers: counts, offsets and
// parents that point anywhere, including just past the end, and cycles.
void write_hostile_tidlists(std::mt19937& random, int32_t transactions) {
  const int32_t list_words = static_cast<int32_t>(random() % 30);
  std::vector<int32_t> list(list_words);
  for (int32_t& v : list) v = static_cast<int32_t>(random() % (transactions + 4)) - 2;
  if (random() % 4 == 0 && !list.empty()) list[random() % list.size()] = INT32_MAX;
  write_ints("o.tidlist", list);

  const int32_t entries = static_cast<int32_t>(random() % 12);
  std::vector<int32_t> directory = {random() % 8 == 0
                                        ? static_cast<int32_t>(random())
                                        : entries + static_cast<int32_t>(random() % 3) - 1,
                                    transactions, 0, 0};
  for (int32_t k = 0; k < entries; ++k) {
    directory.push_back(static_cast<int32_t>(random() % 4));
    directory.push_back(static_cast<int32_t>(random() % (4 * list_words + 10)) - 3);
    directory.push_back(static_cast<int32_t>(random() % (entries + 4)) - 3);
  }
  write_ints("o.tidlist.dir", directory);
  if (random() % 4 == 0) {
    // Cut the directory anywhere, header included.
    const std::string whole = read_file("o.tidlist.dir");
    write_file("o.tidlist.dir", whole.substr(0, random() % (whole.size() + 1)));
  }
}

TEST_F(ReaderFuzzTest, HostileTidLists) {
  for (int round = 0; round < 600; ++round) {
    const int32_t transactions = static_cast<int32_t>(random() % 12);
    write_hostile_tidlists(random, transactions);
    std::vector<std::pair<int32_t, int32_t>> wanted;
    for (uint32_t n = random() % 6; n > 0; --n)
      wanted.emplace_back(static_cast<int32_t>(random() % 16) - 2,
                          static_cast<int32_t>(random() % (transactions + 2)));
    RuleSet rules = make_rule_set(wanted);
    capture_stdout([&] { rebuild_lists(rules, transactions); });
  }
}

TEST_F(ReaderFuzzTest, TruncatedAndCorruptedTidListsOfValidTrees) {
  for (int round = 0; round < 200; ++round) {
    const int32_t transactions = static_cast<int32_t>(random() % 30);
    const std::vector<TreeEntry> tree = random_tree(random, transactions, 1 + random() % 12);
    write_tidlist_files("o", tree, transactions, &random);
    const char* damaged = random() % 2 == 0 ? "o.tidlist" : "o.tidlist.dir";
    std::string bytes = read_file(damaged);
    if (random() % 2 == 0) {
      bytes.resize(random() % (bytes.size() + 1));
    } else if (!bytes.empty()) {
      for (uint32_t flips = 1 + random() % 3; flips > 0; --flips)
        bytes[random() % bytes.size()] = static_cast<char>(random());
    }
    write_file(damaged, bytes);
    std::vector<std::pair<int32_t, int32_t>> wanted;
    for (size_t k = 0; k < tree.size(); ++k)
      wanted.emplace_back(static_cast<int32_t>(k), static_cast<int32_t>(tree[k].expected.size()));
    RuleSet rules = make_rule_set(wanted);
    capture_stdout([&] { rebuild_lists(rules, transactions); });
  }
}

TEST_F(ReaderFuzzTest, HugeTransactionCountAllocatesOnlyWhatTheFilesHold) {
  // A corrupt statistics file may claim two billion transactions; the
  // scratch lists must follow the list file's size, not that claim.
  write_tidlist_files("o", {{kTidListStored | kTidListDiff, -1, {1, 3}, {}}}, 5);
  RuleSet rules = make_rule_set({{0, 4}});
  std::vector<std::vector<int32_t>> lists;
  const std::string console = capture_stdout([&] { lists = rebuild_lists(rules, INT32_MAX); });
  EXPECT_EQ(console, "Error: inconsistent pattern support\n");
  EXPECT_EQ(lists, (std::vector<std::vector<int32_t>>{{0, 2, 4, 5}}));
}

}  // namespace
