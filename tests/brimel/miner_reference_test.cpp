// The miner against the brute-force reference: rules, counts and every output
// file, read back with the system's own readers, on generated data sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "minerio/item_map.h"
#include "minerio/miner_files.h"
#include "minerio/mining_stats.h"
#include "minerio/rule_file.h"
#include "minerio/tidlist_store.h"
#include "reference_miner.h"
#include "run_brimel.h"
#include "testpart/test_part.h"

namespace {

struct Case {
  unsigned seed;
  int records;
  int classes;
  MinerSettings settings;
  int wider = 0;    // more values per attribute
  int repeats = 0;  // each record appears 1 to 1 + repeats times, in shuffled order
};

std::string describe(const Case& c) {
  std::ostringstream text;
  text << "seed " << c.seed << " target '" << c.settings.target_value << "' max_len "
       << c.settings.max_len << " min_sup " << c.settings.min_sup << " max_pvalue "
       << c.settings.max_pvalue << " local " << c.settings.max_local_pvalue << " min_diff "
       << c.settings.min_diff << " records " << c.records << " wider " << c.wider << " repeats "
       << c.repeats;
  return text.str();
}

std::vector<double> read_numbers(const std::string& path) {
  std::vector<double> values;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return values;
  double value = 0;
  while (std::fscanf(file, "%lf", &value) == 1) values.push_back(value);
  std::fclose(file);
  return values;
}

// The tree the tid-list directory must hold: every rule and its prefixes,
// children in ascending item order, numbered in preorder.
struct ExpectedTree {
  struct Node {
    std::map<int, Node> children;
    int preorder = -1;
  };
  Node root;
  std::vector<int> parents;  // by preorder
};

void number_tree(ExpectedTree::Node& node, int parent, std::vector<int>& parents) {
  for (auto& [item, child] : node.children) {
    child.preorder = static_cast<int>(parents.size());
    parents.push_back(parent);
    number_tree(child, child.preorder, parents);
  }
}

int preorder_of(const ExpectedTree& tree, uint32_t items) {
  const ExpectedTree::Node* node = &tree.root;
  for (const int item : items_of(items)) node = &node->children.at(item);
  return node->preorder;
}

void check_against_reference(const Case& c) {
  SCOPED_TRACE(describe(c));
  ScratchDir scratch;
  GeneratedData data = generate_data(c.seed, c.records, 7, c.classes, c.wider);
  repeat_records(data, c.seed, c.repeats);
  write_generated_data(data, "d");
  write_file("orsk.para", parameter_text("d", "o", c.settings));
  testing::internal::CaptureStdout();
  MinerParams params;
  const bool ok = read_miner_params("orsk.para", params) && run_brimel(params).ok;
  const std::string console = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(ok) << console;
  EXPECT_EQ(console.find("Error: "), std::string::npos) << console;

  const ReferenceResult ref = mine_by_brute_force(data, c.settings);
  const int n = static_cast<int>(data.records.size());

  // The system's readers take every file without a message.
  testing::internal::CaptureStdout();
  const MinedPartCounts part = read_mining_statistics("o");
  ClassValueMap class_map;
  read_class_value_map("o", class_map);
  TrainingClassLabels labels(n, 99);
  read_training_class_labels("o", part.transactions, labels);
  ItemMap item_map;
  load_item_map(item_map, std::fopen("o.attrvalue2item.txt", "r"));
  RuleSet rules;
  const int rules_read = read_rules("o", part.transactions, rules);
  const std::vector<std::vector<int32_t>> tid_lists = rebuild_lists(rules, part.transactions);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  EXPECT_EQ(part.transactions, n);
  ASSERT_EQ(class_map.size(), ref.class_values.size());
  for (size_t i = 0; i < ref.class_values.size(); ++i)
    EXPECT_EQ(class_map[ref.class_values[i]], static_cast<int>(i));
  EXPECT_EQ(labels, ref.labels);
  ASSERT_EQ(item_map.size(), ref.item_keys.size());
  for (size_t i = 0; i < ref.item_keys.size(); ++i)
    EXPECT_EQ(item_map[ref.item_keys[i]], static_cast<int>(i));

  // Rules: the same set, supports and p-values, each with its true tid list.
  ExpectedTree tree;
  for (const ReferenceRule& rule : ref.rules) {
    ExpectedTree::Node* node = &tree.root;
    for (const int item : items_of(rule.items)) node = &node->children[item];
  }
  number_tree(tree.root, -1, tree.parents);
  std::map<uint32_t, const ReferenceRule*> expected;
  for (const ReferenceRule& rule : ref.rules) expected[rule.items] = &rule;
  ASSERT_EQ(rules_read, static_cast<int>(ref.rules.size()));
  for (size_t r = 0; r < rules.records.size(); ++r) {
    const RuleRecord& rule = rules.records[r];
    uint32_t items = 0;
    for (int i = 0; i < rule.length; ++i) items |= 1u << rule.items[i];
    ASSERT_TRUE(expected.count(items)) << "unexpected rule of " << rule.length << " items";
    const ReferenceRule& want = *expected[items];
    EXPECT_EQ(rule.length, std::popcount(items));
    EXPECT_EQ(rule.support, want.support);
    EXPECT_EQ(rule.class_support, want.class_support);
    EXPECT_EQ(rule.pvalue, want.pvalue);
    EXPECT_EQ(rule.preorder, preorder_of(tree, items));
    EXPECT_EQ(tid_lists[r], reference_tid_list(ref, items));
  }

  // The rule file's own values and order: ascending p-value, ties by preorder.
  std::ifstream rule_file("o.sorted.rules.txt");
  std::string line;
  double last_p = -1.0;
  int last_preorder = -1;
  const double base = static_cast<double>(ref.positives) / n;
  while (std::getline(rule_file, line)) {
    std::istringstream fields(line);
    int preorder = 0, length = 0, support = 0, class_support = 0;
    fields >> preorder >> length;
    uint32_t items = 0;
    int previous = -1;
    for (int i = 0; i < length; ++i) {
      int item = 0;
      fields >> item;
      EXPECT_GT(item, previous) << "items not ascending";
      previous = item;
      items |= 1u << item;
    }
    double confidence = 0, p = 0, local = 0, lift = 0;
    fields >> support >> class_support >> confidence >> p >> local >> lift;
    ASSERT_TRUE(fields) << line;
    const ReferenceRule& want = *expected.at(items);
    EXPECT_EQ(confidence, static_cast<double>(want.class_support) / want.support);
    EXPECT_EQ(local, want.max_local_pvalue);
    EXPECT_EQ(lift, confidence / base);
    EXPECT_TRUE(p > last_p || (p == last_p && preorder > last_preorder)) << line;
    last_p = p;
    last_preorder = preorder;
  }

  // The directory: the expected tree, rules stored, diff-lists only when shorter.
  const std::string directory = read_file("o.tidlist.dir");
  ASSERT_GE(directory.size(), 16u);
  std::vector<int32_t> dir(directory.size() / 4);
  std::memcpy(dir.data(), directory.data(), dir.size() * 4);
  const int entries = static_cast<int>(tree.parents.size());
  ASSERT_EQ(dir[0], entries);
  ASSERT_EQ(dir.size(), 4 + 3 * static_cast<size_t>(entries));
  EXPECT_EQ(dir[1], n);
  EXPECT_EQ(dir[2], static_cast<int>(ref.rules.size()));
  int full_lists = 0, diff_lists = 0;
  for (int e = 0; e < entries; ++e) {
    EXPECT_EQ(dir[4 + 3 * e + 2], tree.parents[e]);
    const int flags = dir[4 + 3 * e];
    EXPECT_TRUE(flags == 0 || flags == kTidListStored || flags == (kTidListStored | kTidListDiff));
    full_lists += flags == kTidListStored;
    diff_lists += flags == (kTidListStored | kTidListDiff);
  }
  for (const ReferenceRule& rule : ref.rules) {
    // The nearest stored ancestor is the longest proper prefix that is a rule.
    const std::vector<int> items = items_of(rule.items);
    size_t base_size = n;
    uint32_t prefix = 0;
    for (size_t i = 0; i + 1 < items.size(); ++i) {
      prefix |= 1u << items[i];
      if (expected.count(prefix)) base_size = expected[prefix]->support;
    }
    const bool as_diff = base_size - rule.support < static_cast<size_t>(rule.support);
    EXPECT_EQ(dir[4 + 3 * preorder_of(tree, rule.items)],
              as_diff ? (kTidListStored | kTidListDiff) : kTidListStored);
  }

  // Counts in the statistics file and the rule count file.
  std::vector<double> sorted_p;
  int longest = 0;
  for (const ReferenceRule& rule : ref.rules) {
    sorted_p.push_back(rule.pvalue);
    longest = std::max(longest, std::popcount(rule.items));
  }
  std::sort(sorted_p.begin(), sorted_p.end());
  const double corrected = c.settings.max_pvalue / static_cast<double>(ref.patterns_tested);
  int at_corrected = 0, at_fdr = 0;
  double fdr_p = 0.0;
  while (at_corrected < static_cast<int>(sorted_p.size()) && sorted_p[at_corrected] <= corrected)
    ++at_corrected;
  while (at_fdr < static_cast<int>(sorted_p.size()) &&
         sorted_p[at_fdr] <= static_cast<double>(at_fdr + 1) * corrected)
    fdr_p = sorted_p[at_fdr++];

  const std::vector<double> stat = read_numbers("o.cfptree.stat");
  ASSERT_EQ(stat.size(), 14u);
  const std::vector<double> want_stat = {double(n),
                                         double(ref.item_keys.size()),
                                         double(ref.frequent_items),
                                         double(ref.patterns_tested),
                                         double(ref.passing_pvalue),
                                         double(ref.rules.size()),
                                         double(entries),
                                         double(full_lists),
                                         double(diff_lists),
                                         double(longest),
                                         double(c.settings.min_sup),
                                         double(c.settings.max_len),
                                         double(ref.positives)};
  for (size_t i = 0; i < want_stat.size(); ++i)
    EXPECT_EQ(stat[i], want_stat[i]) << "statistic " << i + 1;

  const std::vector<double> count = read_numbers("o.sorted.rulenum.txt");
  const std::vector<double> want_count = {
      double(ref.patterns_tested),  c.settings.max_pvalue, fdr_p,
      c.settings.max_local_pvalue,  c.settings.min_diff,   double(ref.rules.size()),
      double(at_corrected),         double(at_fdr),        double(ref.passing_pvalue),
      double(ref.item_keys.size()), double(longest),       0.0};
  ASSERT_EQ(count.size(), want_count.size());
  for (size_t i = 0; i < want_count.size(); ++i)
    EXPECT_EQ(count[i], want_count[i]) << "count value " << i + 1;
}

TEST(MinerReference, MatchesBruteForceForTargetValueGivenAndEmptyAndEveryMaxLen) {
  for (unsigned seed = 1; seed <= 4; ++seed)
    for (const char* target : {"c1", ""})
      for (const int max_len : {1, 2, 100}) {
        Case c{seed, 90 + 25 * static_cast<int>(seed), seed % 2 ? 3 : 2, MinerSettings{}};
        c.settings.target_value = target;
        c.settings.max_len = max_len;
        c.settings.min_sup = 2 + static_cast<int>(seed);
        check_against_reference(c);
      }
}

TEST(MinerReference, MatchesBruteForceWithOtherThresholds) {
  Case c{7, 160, 2, MinerSettings{}};
  c.settings.target_value = "c1";
  for (const double min_diff : {0.0, 0.05})
    for (const double local : {0.01, 0.3, 1.0})
      for (const double level : {0.001, 0.2, 1.0}) {
        c.settings.min_diff = min_diff;
        c.settings.max_local_pvalue = local;
        c.settings.max_pvalue = level;
        check_against_reference(c);
      }
}

TEST(MinerReference, MatchesBruteForceWhereDeepCoversSpanFewWordsOfTheData) {
  Case c{13, 3000, 3, MinerSettings{}, 1};
  c.settings.min_sup = 1;
  for (const double level : {0.05, 1.0}) {
    c.settings.max_pvalue = level;
    c.settings.max_local_pvalue = level;
    check_against_reference(c);
  }
}

TEST(MinerReference, MatchesBruteForceWhereRulesHaveLittleSupportToSpare) {
  for (const int min_sup : {8, 15, 30})
    for (const double local : {0.05, 0.5})
      for (const int wider : {0, 1}) {
        Case c{static_cast<unsigned>(20 + min_sup), 400, 2, MinerSettings{}, wider};
        c.settings.target_value = "c1";
        c.settings.min_sup = min_sup;
        c.settings.max_pvalue = 1.0;
        c.settings.max_local_pvalue = local;
        check_against_reference(c);
      }
}

TEST(MinerReference, TidListsHoldTheirRulesTransactionsOnEveryThreadWhereBlocksFillOften) {
  // Tens of thousands of records and rules of thousands of transactions:
  // a writing thread fills its block of lists more than once, and the trees
  // below the roots are shared out among one, two or three threads. Every
  // rule's list is checked against the records that hold all its items.
  // Sorted, the records of an item lie in runs, so that lists of a few
  // transactions a word on average fill whole words.
  for (const bool sorted : {false, true})
    for (const char* threads : {"1", "2", "3"}) {
      SCOPED_TRACE(std::string(sorted ? "sorted, " : "") + "threads " + threads);
      ScratchDir scratch;
      GeneratedData data = generate_data(5, 40000, 9, 2, 1);
      if (sorted) std::sort(data.records.begin(), data.records.end());
      write_generated_data(data, "d");
      MinerSettings settings;
      settings.target_value = "c1";
      settings.min_sup = 100;
      settings.max_pvalue = 1.0;
      settings.max_local_pvalue = 1.0;
      write_file("orsk.para", parameter_text("d", "o", settings));
      setenv("BRIMEL_THREADS", threads, 1);
      testing::internal::CaptureStdout();
      MinerParams params;
      const bool ok = read_miner_params("orsk.para", params) && run_brimel(params).ok;
      const std::string console = testing::internal::GetCapturedStdout();
      unsetenv("BRIMEL_THREADS");
      ASSERT_TRUE(ok) << console;

      ItemMap item_map;
      load_item_map(item_map, std::fopen("o.attrvalue2item.txt", "r"));
      const size_t words = (data.records.size() + 63) / 64;
      std::vector<std::vector<uint64_t>> records_of(item_map.size(), std::vector<uint64_t>(words));
      for (size_t r = 0; r < data.records.size(); ++r)
        for (size_t j = 1; j < data.names.size(); ++j)
          if (const auto found = item_map.find(data.names[j] + "=" + data.records[r][j]);
              found != item_map.end())
            records_of[static_cast<size_t>(found->second)][r / 64] |= uint64_t{1} << (r % 64);
      RuleSet rules;
      const auto transactions = static_cast<int32_t>(data.records.size());
      read_rules("o", transactions, rules);
      const std::vector<std::vector<int32_t>> lists = rebuild_lists(rules, transactions, -1);
      for (size_t k = 0; k < rules.records.size(); ++k) {
        const RuleRecord& rule = rules.records[k];
        std::vector<uint64_t> all(words, ~uint64_t{0});
        for (int i = 0; i < rule.length; ++i)
          for (size_t w = 0; w < words; ++w)
            all[w] &= records_of[static_cast<size_t>(rule.items[i])][w];
        std::vector<int32_t> expected;
        for (size_t r = 0; r < data.records.size(); ++r)
          if (all[r / 64] >> (r % 64) & 1) expected.push_back(static_cast<int32_t>(r));
        ASSERT_EQ(lists[k], expected) << "rule " << k;
      }
      // 2^18 values to a thread's block: one thread fills it twice at least.
      EXPECT_GT(std::filesystem::file_size("o.tidlist"), 2 * 4 * (uintmax_t{1} << 18));
    }
}

TEST(MinerReference, MatchesBruteForceWhenRecordsRepeat) {
  // Equal records are merged into weighted ones: some weights need several
  // bit planes, and equal items under another class must stay apart.
  for (const int repeats : {1, 6, 40}) {
    Case c{static_cast<unsigned>(30 + repeats), 120, 2, MinerSettings{}, 0, repeats};
    c.settings.target_value = "c1";
    c.settings.min_sup = 4 + repeats;
    check_against_reference(c);
    c.settings.target_value = "";
    c.settings.max_pvalue = 1.0;
    check_against_reference(c);
  }
}

TEST(MinerReference, CountsEveryPatternDownToSupportOne) {
  Case c{11, 70, 2, MinerSettings{}};
  c.settings.min_sup = 1;
  c.settings.max_pvalue = 1.0;
  c.settings.max_local_pvalue = 1.0;
  check_against_reference(c);
  c.settings.target_value = "c0";
  c.settings.max_len = 3;
  check_against_reference(c);
}

}  // namespace
