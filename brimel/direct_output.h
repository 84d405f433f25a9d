// The results of direct adjustment: the miner's rules on the whole data,
// judged by every correction for the patterns tested at once.
//
// "O.direct.json" (one JSON object): `level`, `transactions`, `positives`,
// `min_sup`, `patterns_tested` (and `patterns_tested_saturated`), `rules`
// (the rules the miner reported), then under `methods` one object per
// method with its corrected `level`, the `rules` significant at it and what
// it was computed over:
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
//   westfall_young     `permutations`, `seed`, `allowed_minima` (k) and
//                      `quantile` (the (k+1)-th smallest minimum); with no
//                      permutations its level is null and no rule is
//                      significant at it
//   fdr                the miner's FDR step over the patterns tested: its
//                      largest p-value accepted is the `level`; `tests`
// and `patterns_by_support`: `min_sup` and `counts`, a list of {`support`,
// `patterns`} for every support met (from the lowered support when Tarone's
// lowered level was computed). A count beyond 64 bits is written as a
// real; a level that is not a finite number as null.
//
// "O.direct.rules.csv": a header line, then one row per rule in the order
// given (ascending p-value): rank, rule, class, length, support,
// class_support, confidence, lift, pvalue, then one 0/1 column per method:
// bonferroni_tested, search_space, layered, tarone, tarone_lowered,
// westfall_young, fdr.
// Fields as in the holdout's rule table (validate/csv_text.h).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "minerio/rule_count.h"
#include "search_space.h"
#include "testability.h"
#include "westfall_young.h"

struct DirectRule {
  std::vector<int32_t> items;  // ascending item ids
  int32_t support = 0;
  int32_t class_support = 0;
  double pvalue = 1.0;
};

struct DirectFigures {
  double level = 0.0;
  int32_t transactions = 0;
  int32_t positives = 0;
  std::string class_value;             // the class the rules predict
  std::vector<std::string> item_keys;  // "attribute=value" of item k
  int32_t min_sup = 0;
  uint64_t patterns_tested = 0;
  bool count_saturated = false;
  RuleCountRecord miner_counts;  // count_significant over the rules, with the patterns tested
  SearchSpace space;
  std::vector<uint64_t> patterns_by_support;  // the patterns tested, entry s of support s
  TaroneLevel tarone;                         // over the patterns tested
  bool tarone_lowered_asked = false;
  TaroneSearch tarone_lowered;  // with the support lowered, when asked
  WestfallYoungLevel westfall_young;
  uint64_t seed = 0;              // of the permutations
  std::vector<DirectRule> rules;  // the miner's rules, ascending p-value
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
