// Test support: the direct corrections by brute force on small data. Every
// pattern is enumerated with its cover, and every correction is computed as
// it is defined, by trying every candidate, with nothing shared with the
// product's code but the Fisher test itself.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "permuted_labels.h"
#include "reference_miner.h"
#include "stats/fisher.h"
#include "westfall_young.h"

// A pattern of support at least the minimum, in depth-first order: items
// added in ascending order, `parent` the index of the pattern without its
// largest item (-1 for one item).
struct ReferencePattern {
  uint32_t items = 0;
  int parent = -1;
  int support = 0;
  int class_support = 0;
  std::vector<uint64_t> cover;  // bit t: transaction t holds every item
};

inline void enumerate_below(const ReferenceResult& r, int min_sup, int max_len, int parent,
                            int first_item, std::vector<ReferencePattern>& out) {
  const int items = static_cast<int>(r.item_keys.size());
  for (int i = first_item; i < items; ++i) {
    ReferencePattern p;
    p.items = (parent < 0 ? 0u : out[static_cast<size_t>(parent)].items) | 1u << i;
    if (std::popcount(p.items) > max_len) return;
    p.parent = parent;
    p.cover.assign((r.transactions.size() + 63) / 64, 0);
    for (size_t t = 0; t < r.transactions.size(); ++t)
      if ((r.transactions[t] & p.items) == p.items) {
        p.cover[t / 64] |= uint64_t{1} << (t % 64);
        ++p.support;
        p.class_support += r.labels[t] == 1;
      }
    if (p.support < min_sup) continue;
    out.push_back(p);
    enumerate_below(r, min_sup, max_len, static_cast<int>(out.size()) - 1, i + 1, out);
  }
}

inline std::vector<ReferencePattern> enumerate_patterns(const ReferenceResult& r, int min_sup,
                                                        int max_len) {
  std::vector<ReferencePattern> out;
  enumerate_below(r, min_sup, max_len, -1, 0, out);
  return out;
}

// The smallest p-value over every class count a support allows.
inline double brute_min_pvalue(const double* lf, int n, int positives, int support) {
  double smallest = INFINITY;
  for (int k = std::max(0, support + positives - n); k <= std::min(support, positives); ++k)
    smallest = std::min(smallest, fisher_exact_pvalue_from(lf, n, support, positives, k));
  return smallest;
}

struct BruteTarone {
  double level = 0.0;
  uint64_t testable = 0;
};

// The largest d with m(d) = 0 or d <= level / m(d), among every value d
// could take at the edge of a step: level / m for every m, each smallest
// p-value and the double just below it.
inline BruteTarone brute_tarone(const std::vector<double>& min_pvalue_of_pattern, double level) {
  auto m_of = [&](double d) {
    return static_cast<uint64_t>(std::count_if(min_pvalue_of_pattern.begin(),
                                               min_pvalue_of_pattern.end(),
                                               [&](double v) { return v <= d; }));
  };
  std::vector<double> candidates;
  for (size_t m = 1; m <= min_pvalue_of_pattern.size(); ++m)
    candidates.push_back(level / static_cast<double>(m));
  for (const double v : min_pvalue_of_pattern) {
    candidates.push_back(v);
    candidates.push_back(std::nextafter(v, -INFINITY));
  }
  BruteTarone best{-INFINITY, 0};
  for (const double d : candidates) {
    const uint64_t m = m_of(d);
    if ((m == 0 || d <= level / static_cast<double>(m)) && d > best.level) best = BruteTarone{d, m};
  }
  if (min_pvalue_of_pattern.empty()) best = BruteTarone{level, 0};
  return best;
}

// Every pattern of the data's items with at most one value per attribute,
// by length; the attribute is the key's text before its first '='.
inline std::vector<uint64_t> brute_space(const std::vector<std::string>& keys) {
  std::vector<std::string> attribute;
  for (const std::string& key : keys) attribute.push_back(key.substr(0, key.find('=')));
  std::vector<uint64_t> by_length(keys.size() + 1, 0);
  for (uint32_t set = 1; set < (1u << keys.size()); ++set) {
    std::set<std::string> seen;
    bool one_each = true;
    for (const int i : items_of(set)) one_each = one_each && seen.insert(attribute[i]).second;
    if (one_each) ++by_length[std::popcount(set)];
  }
  return by_length;
}

inline bool label_under(const RecordRows& rows, size_t t, int32_t j) {
  return rows.units[t * rows.words + static_cast<size_t>(j) / 64] >> (j % 64) & 1;
}

inline std::vector<char> in_class_of(const ReferenceResult& ref) {
  std::vector<char> in_class;
  for (const int32_t label : ref.labels) in_class.push_back(label == 1);
  return in_class;
}

// The Westfall-Young level by brute force: every pattern under every
// permutation, and the largest level d with 1 + #{minima <= d} <= level
// (J + 1), the product read as the decimal it was, among every value d
// could take at the edge of a step (the double just below each minimum); 0
// when there is none. The level itself when no pattern was tested or every
// d passes.
inline double brute_westfall_young(const ReferenceResult& ref,
                                   const std::vector<ReferencePattern>& patterns,
                                   const RecordRows& rows, double level, const double* lf) {
  const int n = static_cast<int>(ref.transactions.size());
  std::vector<double> minima(static_cast<size_t>(rows.permutations), INFINITY);
  for (int32_t j = 0; j < rows.permutations; ++j)
    for (const ReferencePattern& p : patterns) {
      int k = 0;
      for (int t = 0; t < n; ++t) k += (p.cover[t / 64] >> (t % 64) & 1) && label_under(rows, t, j);
      minima[j] = std::min(minima[j], fisher_exact_pvalue_from(lf, n, p.support, ref.positives, k));
    }
  const double allowed = level * (rows.permutations + 1.0) * (1 + 1e-9);
  auto keeps = [&](double d) {
    const auto within =
        std::count_if(minima.begin(), minima.end(), [&](double m) { return m <= d; });
    return 1.0 + static_cast<double>(within) <= allowed;
  };
  if (patterns.empty() || keeps(INFINITY)) return level;
  double best = 0.0;
  for (const double m : minima) {
    const double d = std::nextafter(m, -INFINITY);
    if (d > best && keeps(d)) best = d;
  }
  return best;
}
