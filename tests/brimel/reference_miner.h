// Test support: the miner's results by brute force. Every itemset of a small
// data set is enumerated, its supports counted from all records, and
// the three rule tests applied as they are stated, with no pruning at all.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "generated_data.h"
#include "stats/fisher.h"

struct ReferenceRule {
  uint32_t items = 0;  // bit i: item i
  int support = 0;
  int class_support = 0;
  double pvalue = 0.0;
  double max_local_pvalue = 0.0;
};

struct ReferenceResult {
  std::vector<std::string> item_keys;
  std::vector<std::string> class_values;  // as the class-value map lists them
  std::vector<int32_t> labels;
  std::vector<uint32_t> transactions;  // item bit sets
  int positives = 0;
  int frequent_items = 0;
  uint64_t patterns_tested = 0;
  uint64_t passing_pvalue = 0;
  std::vector<ReferenceRule> rules;
};

inline std::vector<int> items_of(uint32_t set) {
  std::vector<int> items;
  for (int i = 0; i < 32; ++i)
    if (set >> i & 1) items.push_back(i);
  return items;
}

inline ReferenceResult mine_by_brute_force(const GeneratedData& data, const MinerSettings& s) {
  ReferenceResult out;
  std::map<std::string, int> item_ids;
  std::map<std::string, int> class_ids;
  std::vector<std::string> seen_classes;
  std::vector<int> record_class;
  for (const auto& fields : data.records) {
    uint32_t set = 0;
    for (size_t j = 1; j < fields.size(); ++j) {
      if (fields[j] == "?") continue;
      const std::string key = data.names[j] + "=" + fields[j];
      auto [found, added] = item_ids.emplace(key, static_cast<int>(out.item_keys.size()));
      if (added) out.item_keys.push_back(key);
      set |= 1u << found->second;
    }
    out.transactions.push_back(set);
    if (fields[0] == "?") {
      record_class.push_back(-1);
    } else {
      auto [found, added] = class_ids.emplace(fields[0], static_cast<int>(seen_classes.size()));
      if (added) seen_classes.push_back(fields[0]);
      record_class.push_back(found->second);
    }
  }
  const int n = static_cast<int>(data.records.size());
  if (!s.target_value.empty()) {
    out.class_values = seen_classes;
    for (const int c : record_class)
      out.labels.push_back(c >= 0 && seen_classes[c] == s.target_value);
  } else {
    std::vector<int> count(seen_classes.size(), 0);
    for (const int c : record_class)
      if (c >= 0) ++count[c];
    std::vector<int> by_rank;
    for (size_t c = 0; c < seen_classes.size(); ++c) by_rank.push_back(static_cast<int>(c));
    std::stable_sort(by_rank.begin(), by_rank.end(),
                     [&](int a, int b) { return count[a] > count[b]; });
    std::vector<int> rank(seen_classes.size());
    for (size_t r = 0; r < by_rank.size(); ++r) {
      rank[by_rank[r]] = static_cast<int>(r);
      out.class_values.push_back(seen_classes[by_rank[r]]);
    }
    for (const int c : record_class) out.labels.push_back(c < 0 ? -1 : rank[c]);
  }
  out.positives = static_cast<int>(std::count(out.labels.begin(), out.labels.end(), 1));

  const int items = static_cast<int>(out.item_keys.size());
  const uint32_t masks = 1u << items;
  std::vector<int> support(masks, 0), class_support(masks, 0);
  for (int t = 0; t < n; ++t) {
    ++support[out.transactions[t]];
    class_support[out.transactions[t]] += out.labels[t] == 1;
  }
  // Summed over supersets, entry x counts the records that hold all of x.
  for (int i = 0; i < items; ++i)
    for (uint32_t x = 0; x < masks; ++x)
      if (!(x >> i & 1)) {
        support[x] += support[x | 1u << i];
        class_support[x] += class_support[x | 1u << i];
      }
  for (int i = 0; i < items; ++i) out.frequent_items += support[1u << i] >= s.min_sup;

  const LogFactorialTable lf = build_log_factorial_table(n);
  const double base = static_cast<double>(out.positives) / n;
  for (uint32_t x = 1; x < masks; ++x) {
    const int length = std::popcount(x);
    if (length > s.max_len || support[x] < s.min_sup) continue;
    ++out.patterns_tested;
    const double p =
        fisher_exact_pvalue_from(lf.data(), n, support[x], out.positives, class_support[x]);
    if (p > s.max_pvalue) continue;
    ++out.passing_pvalue;
    const double confidence = static_cast<double>(class_support[x]) / support[x];
    bool rule = confidence - base > s.min_diff;
    double max_local = 0.0;
    for (const int i : items_of(x)) {
      const uint32_t y = x & ~(1u << i);
      if (y == 0 || !rule) continue;
      rule = confidence - static_cast<double>(class_support[y]) / support[y] > s.min_diff;
      const double local = fisher_exact_pvalue_from(lf.data(), support[y], support[x],
                                                    class_support[y], class_support[x]);
      rule = rule && local <= s.max_local_pvalue;
      max_local = std::max(max_local, local);
    }
    if (rule) out.rules.push_back(ReferenceRule{x, support[x], class_support[x], p, max_local});
  }
  return out;
}

inline std::vector<int32_t> reference_tid_list(const ReferenceResult& r, uint32_t items) {
  std::vector<int32_t> tids;
  for (size_t t = 0; t < r.transactions.size(); ++t)
    if ((r.transactions[t] & items) == items) tids.push_back(static_cast<int32_t>(t));
  return tids;
}
