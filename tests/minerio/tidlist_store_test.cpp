// The tid-list store: the sorted-list operations, the rebuilding of lists
// from stored lists and diff-lists, and round trips of random trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "common/block_writer.h"
#include "minerio/miner_files.h"
#include "minerio/tidlist_store.h"

namespace {

using List = std::vector<int32_t>;

List difference_of(const List& from, const List& remove, size_t* full_length = nullptr) {
  List out(from.size());
  const size_t length = subtract_sorted(from, remove, out);
  if (full_length != nullptr) *full_length = length;
  out.resize(std::min(length, out.size()));
  return out;
}

TEST(SortedLists, DifferenceDropsValuesOfTheSecondList) {
  size_t length = 0;
  EXPECT_EQ(difference_of({2, 4, 6, 8}, {2, 8}, &length), (List{4, 6}));
  EXPECT_EQ(length, 2u);
  // A value to remove that is missing shortens the result by less.
  EXPECT_EQ(difference_of({2, 4, 6, 8}, {3, 4}, &length), (List{2, 6, 8}));
  EXPECT_EQ(difference_of({}, {1}), List{});
  EXPECT_EQ(difference_of({1, 2}, {}), (List{1, 2}));
}

TEST(SortedLists, ShortOutputTakesThePrefixAndReportsTheFullLength) {
  List out(2, -1);
  EXPECT_EQ(subtract_sorted(List{1, 3, 5, 7}, List{3}, out), 3u);
  EXPECT_EQ(out, (List{1, 5}));
}

TEST(SortedLists, DifferenceOfShortAndLongDiffListsAgreesWithTheStandardOne) {
  std::mt19937 random(33);
  for (int round = 0; round < 300; ++round) {
    List from;
    List remove;
    for (int32_t t = 0; t < 400; ++t) {
      if (random() % 2 == 0) from.push_back(t);
      // Mostly values of `from`, some not: both ways of subtracting meet both.
      if (random() % (1 + round % 30) == 0 &&
          (random() % 8 == 0 || (!from.empty() && from.back() == t)))
        remove.push_back(t);
    }
    List expected;
    std::set_difference(from.begin(), from.end(), remove.begin(), remove.end(),
                        std::back_inserter(expected));
    size_t length = 0;
    EXPECT_EQ(difference_of(from, remove, &length), expected) << "round " << round;
    EXPECT_EQ(length, expected.size());
    List short_out(from.size() / 2, -1);
    EXPECT_EQ(subtract_sorted(from, remove, short_out), expected.size());
    EXPECT_TRUE(std::equal(short_out.begin(),
                           short_out.begin() + std::min(short_out.size(), expected.size()),
                           expected.begin()));
  }
}

struct TidListStoreTest : testing::Test {
  ScratchDir dir;

  std::vector<List> lists;

  // Rebuilds the tid lists of `rules` over `transactions` into `lists`, each
  // filled with `fill` first, and returns the console.
  std::string load(int32_t transactions, const RuleSet& rules, int32_t fill = 0) {
    return capture_stdout([&] { lists = rebuild_lists(rules, transactions, fill); });
  }

  std::vector<TidListSize> sizes;

  // Sizes the lists of every rule as validation does, the measure being the
  // bytes of the list as text; returns the console.
  std::string measure(int32_t transactions, const RuleSet& rules) {
    std::vector<size_t> every(rules.records.size());
    for (size_t r = 0; r < every.size(); ++r) every[r] = r;
    return capture_stdout([&] {
      RuleTidLists store;
      if (open_rule_tid_lists("o", transactions, store))
        sizes = measure_rule_tid_lists(store, rules, every, ascending_text_bytes);
      close_rule_tid_lists(store);
    });
  }
};

TEST_F(TidListStoreTest, FullListIsTakenAsStoredWhateverItsParent) {
  write_tidlist_files("o",
                      {{kTidListStored, -1, {0, 1, 2, 3}, {}},
                       {kTidListStored, 0, {1, 3, 4}, {}},
                       {0, -7, {}, {}},
                       {kTidListStored, 2, {0, 2}, {}}},
                      5);
  RuleSet rules = make_rule_set({{1, 3}, {3, 2}});
  EXPECT_EQ(load(5, rules), "");
  EXPECT_EQ(lists[0], (List{1, 3, 4}));
  EXPECT_EQ(lists[1], (List{0, 2}));
}

TEST_F(TidListStoreTest, DiffListUnderTheRootIsTheComplement) {
  write_tidlist_files("o", {{kTidListStored | kTidListDiff, -1, {1, 3}, {}}}, 5);
  RuleSet rules = make_rule_set({{0, 3}});
  EXPECT_EQ(load(5, rules), "");
  EXPECT_EQ(lists[0], (List{0, 2, 4}));
}

TEST_F(TidListStoreTest, DiffListsAccumulateUpToTheNearestFullList) {
  const int32_t diff = kTidListStored | kTidListDiff;
  write_tidlist_files(
      "o", {{kTidListStored, -1, {2, 4, 6, 8}, {}}, {diff, 0, {2}, {}}, {diff, 1, {8}, {}}}, 10);
  RuleSet rules = make_rule_set({{2, 2}, {1, 3}});
  EXPECT_EQ(load(10, rules), "");
  EXPECT_EQ(lists[0], (List{4, 6}));
  EXPECT_EQ(lists[1], (List{4, 6, 8}));
}

TEST_F(TidListStoreTest, AncestorsWithoutAListArePassedOver) {
  const int32_t diff = kTidListStored | kTidListDiff;
  write_tidlist_files("o",
                      {{kTidListStored, -1, {1, 2, 3, 5}, {}},
                       {0, 0, {}, {}},
                       {kTidListDiff, 1, {}, {}},  // a diff flag without a list: passed over too
                       {diff, 2, {2, 5}, {}},
                       {0, -1, {}, {}},
                       {diff, 4, {0}, {}}},
                      6);
  RuleSet rules = make_rule_set({{3, 2}, {5, 5}});
  EXPECT_EQ(load(6, rules), "");
  EXPECT_EQ(lists[0], (List{1, 3}));
  EXPECT_EQ(lists[1], (List{1, 2, 3, 4, 5}));
}

TEST_F(TidListStoreTest, OverlappingDiffListsAreReportedOnceAndCountedOnce) {
  const int32_t diff = kTidListStored | kTidListDiff;
  write_tidlist_files(
      "o", {{kTidListStored, -1, {2, 4, 6, 8}, {}}, {diff, 0, {2, 4}, {}}, {diff, 1, {4}, {}}}, 10);
  RuleSet rules = make_rule_set({{2, 2}});
  EXPECT_EQ(load(10, rules),
            "Error: there should no no overlap between two consecutive diff-list\n");
  EXPECT_EQ(lists[0], (List{6, 8}));
}

TEST_F(TidListStoreTest, DiffListValueMissingFromTheFullListIsReported) {
  write_tidlist_files(
      "o", {{kTidListStored, -1, {2, 4, 6}, {}}, {kTidListStored | kTidListDiff, 0, {3, 4}, {}}},
      10);
  RuleSet rules = make_rule_set({{1, 2}});
  EXPECT_EQ(load(10, rules),
            "Error: the tid list length should be the difference between the parent list length "
            "and the diff-list length\n");
  EXPECT_EQ(lists[0], (List{2, 6}));
}

TEST_F(TidListStoreTest, ParentBelowMinusOneIsReportedAndLeavesTheRoom) {
  write_tidlist_files("o", {{kTidListStored | kTidListDiff, -2, {1, 2}, {}}}, 4);
  RuleSet rules = make_rule_set({{0, 2}});
  EXPECT_EQ(load(4, rules, -9), "Error: the preorder of the entry cannot be -2\n");
  EXPECT_EQ(lists[0], (List{-9, -9}));
}

TEST_F(TidListStoreTest, DamageAboveManyRulesIsReportedOnceAndEveryRuleBelowFails) {
  const int32_t diff = kTidListStored | kTidListDiff;
  write_tidlist_files("o",
                      {{kTidListStored, -1, {3, 1}, {}},
                       {diff, 0, {1}, {}},
                       {diff, 1, {}, {}},
                       {kTidListStored, -1, {2}, {}}},
                      5);
  RuleSet rules = make_rule_set({{2, 0}, {1, 1}, {3, 1}, {2, 1}});
  EXPECT_EQ(load(5, rules, -9),
            "Error: list record of entry 0 in file o.tidlist is not an ascending list of "
            "transaction numbers below 5\n"
            "Error: inconsistent pattern support\n"
            "Error: inconsistent pattern support\n");
  EXPECT_EQ(lists, (std::vector<List>{{}, {-9}, {2}, {-9}}));
}

// The empty list is read into a list with no storage: the sanitizer build
// fails here if the decoding copies zero bytes to a null pointer.
TEST_F(TidListStoreTest, SupportZeroWithAnEmptyListPrintsNothing) {
  write_tidlist_files("o", {{kTidListStored, -1, {}, {}}}, 4);
  RuleSet rules = make_rule_set({{0, 0}});
  EXPECT_EQ(load(4, rules), "");
}

TEST_F(TidListStoreTest, ListLongerThanTheSupportIsCutToTheRoom) {
  const int32_t diff = kTidListStored | kTidListDiff;
  write_tidlist_files(
      "o", {{kTidListStored, -1, {0, 1, 2, 3, 4}, {}}, {diff, 0, {4}, {}}, {diff, -1, {0}, {}}}, 6);
  // Exact rooms of 2, 1 and 3 entries: ASan reports any write past them.
  RuleSet rules = make_rule_set({{0, 2}, {1, 1}, {2, 3}});
  EXPECT_EQ(load(6, rules),
            "Error: inconsistent pattern support\n"
            "Error: inconsistent pattern support\n"
            "Error: inconsistent pattern support\n");
  EXPECT_EQ(lists, (std::vector<List>{{0, 1}, {0}, {1, 2, 3}}));
}

TEST_F(TidListStoreTest, MissingFilesAreReportedAndNothingIsFilled) {
  RuleSet rules = make_rule_set({{0, 1}});
  EXPECT_EQ(load(4, rules, -9), "Error: cannot open file o.tidlist.dir for read\n");
  EXPECT_EQ(lists[0], List{-9});
  write_tidlist_files("o", {{kTidListStored, -1, {1}, {}}}, 4);
  std::filesystem::remove("o.tidlist");
  EXPECT_EQ(load(4, rules, -9), "Error: cannot open file o.tidlist for read\n");
  EXPECT_EQ(lists[0], List{-9});
}

TEST_F(TidListStoreTest, RandomTreesRoundTrip) {
  std::mt19937 random(1207);
  for (int round = 0; round < 60; ++round) {
    const int32_t transactions = static_cast<int32_t>(random() % 200);
    const std::vector<TreeEntry> tree = random_tree(random, transactions, 1 + random() % 40);
    write_tidlist_files("o", tree, transactions, &random);
    std::vector<std::pair<int32_t, int32_t>> wanted;
    for (size_t k = 0; k < tree.size(); ++k)
      if (tree[k].flags & kTidListStored)
        wanted.emplace_back(static_cast<int32_t>(k), static_cast<int32_t>(tree[k].expected.size()));
    std::shuffle(wanted.begin(), wanted.end(), random);
    RuleSet rules = make_rule_set(wanted);
    ASSERT_EQ(load(transactions, rules), "") << "round " << round;
    ASSERT_EQ(measure(transactions, rules), "") << "round " << round;
    for (size_t r = 0; r < rules.records.size(); ++r) {
      const List& expected = tree[rules.records[r].preorder].expected;
      EXPECT_EQ(lists[r], expected) << "round " << round;
      // Sized without rebuilding: the same length and bytes as the list rebuilt.
      EXPECT_TRUE(sizes[r].known);
      EXPECT_EQ(sizes[r].length, static_cast<int64_t>(expected.size()));
      EXPECT_EQ(sizes[r].measure, ascending_text_bytes(expected)) << "round " << round;
    }
  }
}

// The stored entries whose lists entry `k`'s list is built from: itself,
// and for a diff-list the same of its nearest stored ancestor.
bool depends_on(const std::vector<TreeEntry>& tree, int32_t k, int32_t damaged) {
  while (true) {
    if (k == damaged) return true;
    if ((tree[k].flags & kTidListDiff) == 0) return false;
    int32_t base = tree[k].parent;
    while (base >= 0 && (tree[base].flags & kTidListStored) == 0) base = tree[base].parent;
    if (base < 0) return false;
    k = base;
  }
}

TEST_F(TidListStoreTest, DamageInOneRecordEmptiesTheListsBuiltFromItAndNoOther) {
  std::mt19937 random(2008);
  for (int round = 0; round < 80; ++round) {
    const int32_t transactions = 1 + static_cast<int32_t>(random() % 100);
    const std::vector<TreeEntry> tree = random_tree(random, transactions, 1 + random() % 30);
    std::vector<int32_t> stored;
    for (size_t k = 0; k < tree.size(); ++k)
      if (tree[k].flags & kTidListStored) stored.push_back(static_cast<int32_t>(k));
    if (stored.empty()) continue;
    write_tidlist_files("o", tree, transactions, &random);
    // Entry `damaged` points past the end of the list file.
    const int32_t damaged = stored[random() % stored.size()];
    std::string directory = read_file("o.tidlist.dir");
    const size_t at = 4 * (kTidListDirHeaderInts + 3 * static_cast<size_t>(damaged) + 1);
    for (size_t byte = 0; byte < 4; ++byte) directory[at + byte] = byte == 3 ? '\x70' : '\0';
    write_file("o.tidlist.dir", directory);

    std::vector<std::pair<int32_t, int32_t>> wanted;
    for (const int32_t k : stored)
      wanted.emplace_back(k, static_cast<int32_t>(tree[k].expected.size()));
    std::shuffle(wanted.begin(), wanted.end(), random);
    RuleSet rules = make_rule_set(wanted);
    const std::string console = load(transactions, rules, -1);
    size_t failing = 0;
    for (size_t r = 0; r < rules.records.size(); ++r) {
      const RuleRecord& rule = rules.records[r];
      if (!depends_on(tree, rule.preorder, damaged)) {
        EXPECT_EQ(lists[r], tree[rule.preorder].expected) << "round " << round;
      } else {
        EXPECT_EQ(lists[r], List(static_cast<size_t>(rule.support), -1)) << "round " << round;
        failing += rule.support != 0;
      }
    }
    // The damage once, then one line per rule that lost its list.
    std::string expected = "Error: offset 1879048192 of entry " + std::to_string(damaged) +
                           " is outside file o.tidlist\n";
    for (size_t i = 0; i < failing; ++i) expected += "Error: inconsistent pattern support\n";
    EXPECT_EQ(console, expected) << "round " << round;
    // Sizing reports the same damage, and knows the lists that do not depend on it.
    std::string sized = "Error: offset 1879048192 of entry " + std::to_string(damaged) +
                        " is outside file o.tidlist\n";
    for (size_t r = 0; r < rules.records.size(); ++r)
      if (depends_on(tree, rules.records[r].preorder, damaged) && rules.records[r].support != 0)
        sized += "Error: inconsistent pattern support\n";
    EXPECT_EQ(measure(transactions, rules), sized) << "round " << round;
    for (size_t r = 0; r < rules.records.size(); ++r)
      EXPECT_EQ(sizes[r].known, !depends_on(tree, rules.records[r].preorder, damaged));
  }
}

TEST_F(TidListStoreTest, DamagedDirectoryAndListsAreReported) {
  const int32_t diff = kTidListStored | kTidListDiff;
  struct Case {
    std::vector<TreeEntry> tree;
    int32_t preorder;
    const char* message;
  };
  const Case cases[] = {
      {{{kTidListStored, -1, {1}, {}}}, 1, "Error: preorder number 1 is outside"},
      {{{kTidListStored, -1, {1}, {}}}, -1, "Error: preorder number -1 is outside"},
      {{{diff, 5, {1}, {}}}, 0, "Error: parent number 5 of entry 0 is outside"},
      {{{diff, 1, {1}, {}}, {0, 0, {}, {}}},
       0,
       "Error: the parent numbers above entry 0 run in a cycle"},
      {{{diff, 0, {1}, {}}}, 0, "Error: the parent numbers above entry 0 run in a cycle"},
      {{{diff, 1, {1}, {}}, {diff, 0, {2}, {}}},
       0,
       "Error: the parent numbers above entry 0 run in a cycle"},
      {{{kTidListStored, -1, {3, 1}, {}}},
       0,
       "Error: list record of entry 0 in file o.tidlist is not an ascending"},
      {{{kTidListStored, -1, {1, 9}, {}}},
       0,
       "Error: list record of entry 0 in file o.tidlist is not an ascending"},
      {{{kTidListStored, -1, {1, 1}, {}}},
       0,
       "Error: list record of entry 0 in file o.tidlist is not an ascending"},
  };
  for (const Case& c : cases) {
    write_tidlist_files("o", c.tree, 5);
    RuleSet rules = make_rule_set({{c.preorder, 1}});
    const std::string console = load(5, rules);
    EXPECT_NE(console.find(c.message), std::string::npos) << console;
    EXPECT_NE(console.find("Error: inconsistent pattern support\n"), std::string::npos) << console;
  }
}

TEST_F(TidListStoreTest, CountsAndOffsetsThatDoNotFitTheFileAreReported) {
  write_tidlist_files("o", {{kTidListStored, -1, {1, 2}, {}}}, 5);
  auto with_directory = [&](int32_t offset) {
    write_ints("o.tidlist.dir", {1, 5, 1, 0, kTidListStored, offset, -1});
    RuleSet rules = make_rule_set({{0, 2}});
    return load(5, rules);
  };
  EXPECT_EQ(with_directory(12).rfind("Error: offset 12 of entry 0 is outside file o.tidlist\n", 0),
            0u);
  EXPECT_EQ(with_directory(-4).rfind("Error: offset -4 of entry 0 is outside file o.tidlist\n", 0),
            0u);
  EXPECT_EQ(with_directory(9).rfind("Error: offset 9 of entry 0 is outside", 0), 0u);

  write_ints("o.tidlist.dir", {1, 5, 1, 0, kTidListStored, 0, -1});
  for (int32_t count : {-1, 3, 6, 1 << 30}) {
    write_ints("o.tidlist", {count, 1, 2});
    RuleSet rules = make_rule_set({{0, 2}});
    const std::string console = load(5, rules);
    EXPECT_EQ(console.rfind("Error: list record of entry 0 in file o.tidlist has count", 0), 0u)
        << console;
  }
}

TEST_F(TidListStoreTest, DirectoryCountsThatLieAreReported) {
  write_ints("o.tidlist.dir", {3, 5, 1, 0, kTidListStored, 0, -1});
  TidListDirectory directory;
  std::string console = capture_stdout([&] { read_tidlist_directory("o", directory); });
  EXPECT_EQ(console,
            "Error: file o.tidlist.dir holds 1 directory entries, fewer than its count 3\n");
  EXPECT_EQ(directory.size(), 1u);

  write_ints("o.tidlist.dir", {-3, 5, 1, 0});
  console = capture_stdout([&] { read_tidlist_directory("o", directory); });
  EXPECT_EQ(console, "Error: negative entry count -3 in file o.tidlist.dir\n");
  EXPECT_TRUE(directory.empty());

  write_ints("o.tidlist.dir", {1, 5});
  console = capture_stdout([&] { read_tidlist_directory("o", directory); });
  EXPECT_EQ(console, "Error: file o.tidlist.dir is too short for its header\n");
  EXPECT_TRUE(directory.empty());
}

}  // namespace
