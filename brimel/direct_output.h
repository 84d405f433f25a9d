// The results of direct adjustment: the miner's rules on the whole data,
// judged by every correction for the patterns tested at once.
//
// "O.direct.json" (one JSON object): `level`, `transactions`, `positives`,
// `min_sup` (the support the patterns tested were counted from), `top_k`
// (null, or under top-k mining {`k`, `bound`: the p-value bound the search
// ended with, `min_sup_given`}), `patterns_tested` (and
// `patterns_tested_saturated`),
// `closed_patterns_tested` (distinct covers among them; with
// `closed_patterns_upper_bound` true when max_len cut the search, and the
// figure bounds them from above), `rules` (the rules the miner reported),
// then under `methods` one object per method with its corrected `level`, the
// `rules` significant at it, for a family-wise method the
// `productive_rules` (significant, and their largest local p-value within
// the level too) and what it was computed over:
//   bonferroni_tested  level / patterns tested; `tests`
//   search_space       level / every pattern possible; `size`, `log10_size`
//   layered            per length l: level / (L * patterns possible of l
//                      items); `longest` (L) and `lengths`, each with
//                      `length`, `size`, `log10_size`, `level`, `rules`
//   tarone             over the patterns tested: `testable` (m) and
//                      `lower_support`, 0 when no support below min_sup
//                      could reach the level, else the smallest that could
//   tarone_lowered     `computed` (asked for or not; when not, its level is
//                      null and no rule is significant at it), `testable`,
//                      `min_sup` (the support the patterns were counted from
//                      at last) and `recounts`
//   westfall_young     `permutations`, `seed`, `rule` (which level it takes),
//                      `allowed_minima` (k; -1 when no level can be told),
//                      `quantile` (the (k+1)-th smallest minimum) and
//                      `lower_support` (as Tarone's, for its level, below
//                      min_sup_given under top-k); with no permutations its
//                      level is null and no rule is significant at it. Under
//                      top-k also `capped`: the level was cut to the bound
//                      (and `quantile` is null), as above it the level is
//                      not known
//   fdr                Benjamini-Hochberg's step-up over every pattern
//                      tested: its largest p-value accepted is the `level`
//                      (0 when none is); `tests` and `accepted` (patterns
//                      accepted, rules or not)
//   bonferroni_closed  level / closed patterns tested; `tests`
//   tarone_closed      as tarone, over the closed patterns tested:
//                      `testable` and `lower_support`
// Under top-k every method also has `valid_under_top_k`: false for fdr
// alone, whose level is then null and which keeps no rule (its step needs
// every pattern's p-value up to the level, and a count of tests chosen
// without the labels).
// and `patterns_by_support`: `min_sup` and `counts`, a list of {`support`,
// `patterns`} for every support met (from the lowered support when Tarone's
// lowered level was computed). A count beyond 64 bits is written as a
// real; a level that is not a finite number as null.
//
// "O.direct.rules.csv": a header line, then one row per rule in the order
// given (ascending p-value): rank, rule, class, length, support,
// class_support, confidence, lift, pvalue, max_local_pvalue (against the
// rule's generalisations; 0 for one item), then one 0/1 column per method:
// bonferroni_tested, search_space, layered, tarone, tarone_lowered,
// westfall_young, fdr, bonferroni_closed, tarone_closed, then one per
// family-wise method, named <method>_productive, in the same order:
// significant, and its max_local_pvalue within the method's level too (the
// intersection-union test of the rule and each local test).
// Fields as in the holdout's rule table (validate/csv_text.h).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "minerio/rule_count.h"
#include "search_space.h"
#include "stats/significance.h"
#include "testability.h"
#include "westfall_young.h"

struct DirectRule {
  std::vector<int32_t> items;  // ascending item ids
  int32_t support = 0;
  int32_t class_support = 0;
  double pvalue = 1.0;
  double max_local_pvalue = 0.0;  // against its generalisations; 0 for one item
};

struct DirectFigures {
  double level = 0.0;
  int32_t transactions = 0;
  int32_t positives = 0;
  std::string class_value;             // the class the rules predict
  std::vector<std::string> item_keys;  // "attribute=value" of item k
  int32_t min_sup = 0;                 // the patterns tested are those of support >= min_sup
  int32_t top_k = 0;                   // 0: not top-k mining
  double top_k_bound = 0.0;
  int32_t min_sup_given = 0;
  uint64_t patterns_tested = 0;
  bool count_saturated = false;
  uint64_t closed_patterns_tested = 0;      // distinct covers among the patterns tested
  bool closed_upper_bound = false;          // max_len cut the search: the count bounds them
  std::vector<uint64_t> closed_by_support;  // entry s: of support s
  TaroneLevel tarone_closed;                // over the closed patterns tested
  StepUpCount fdr;                          // Benjamini-Hochberg over every pattern tested
  RuleCountRecord miner_counts;  // count_significant over the rules, with the patterns tested
  SearchSpace space;
  std::vector<uint64_t> patterns_by_support;  // the patterns tested, entry s of support s
  TaroneLevel tarone;                         // over the patterns tested
  bool tarone_lowered_asked = false;
  TaroneSearch tarone_lowered;  // with the support lowered, when asked
  WestfallYoungLevel westfall_young;
  bool westfall_young_capped = false;  // at top_k_bound
  uint64_t seed = 0;                   // of the permutations
  std::vector<DirectRule> rules;       // the miner's rules, ascending p-value
};

// Each method's corrected level (NaN for the layered levels, one per length,
// and for Westfall-Young without permutations) and the rules significant at
// it, in the order of the rule table's columns.
struct MethodSummary {
  const char* name = "";
  double level = 0.0;
  int64_t rules = 0;
};
std::vector<MethodSummary> method_summaries(const DirectFigures& figures);

// The rule table's columns, in order, and each rule's cells: the one
// description of the table, from which the CSV file is written and any other
// table of the rules (the Python package's data frame) is built.
enum class CellKind { integer, real, text, flag };
struct RuleColumn {
  std::string name;
  CellKind kind = CellKind::integer;
};
// A cell holds the alternative of its column's kind: int64_t for integer,
// double for real (NaN for a ratio whose denominator is 0: an empty field),
// std::string for text, bool for flag.
using RuleCell = std::variant<int64_t, double, std::string, bool>;

std::vector<RuleColumn> direct_rule_columns();
// The cells of rule `rank` (0 = smallest p-value), one per column.
std::vector<RuleCell> direct_rule_cells(const DirectFigures& figures, size_t rank);

// The text of the JSON object, as the file holds it.
std::string direct_record_text(const DirectFigures& figures);

// Writes the JSON object to `json_path` and the rule table to `rules_path`
// (the caller's temporary names, say). Returns false after an "Error: " line
// when either cannot be written in full.
bool write_direct_results(const std::string& json_path, const std::string& rules_path,
                          const DirectFigures& figures);
