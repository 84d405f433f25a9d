// Writers of the direct run's JSON object and rule table; every method's
// verdict on a rule is decided in one place for both.
#include "direct_output.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "common/csv_text.h"
#include "common/file_open.h"

namespace {

using nlohmann::json;

enum Method {
  bonferroni_tested,
  search_space,
  layered,
  tarone,
  tarone_lowered,
  westfall_young,
  fdr,
  bonferroni_closed,
  tarone_closed,
  kMethods
};

constexpr std::array<const char*, kMethods> kMethodNames = {
    "bonferroni_tested", "search_space", "layered",           "tarone",       "tarone_lowered",
    "westfall_young",    "fdr",          "bonferroni_closed", "tarone_closed"};

// Every method but the FDR controls the family-wise error, and so does its
// intersection with the local tests at the same level.
constexpr bool family_wise(int method) { return method != fdr; }

// Under top-k mining, the family-wise methods keep their error control: the
// patterns left out all have a smallest p-value above the bound every rule
// is within, so the verdicts of Tarone's and Westfall-Young's levels on the
// rules are those over every pattern of support >= min_sup_given, and
// Bonferroni's over the patterns tested is never milder than Tarone's over
// them. The FDR step is not: it needs the patterns beyond the bound too.
bool valid_under_top_k(int method) { return family_wise(method); }

double fdr_level(const DirectFigures& f) { return f.top_k > 0 ? NAN : f.fdr.largest_pvalue; }

using Verdicts = std::array<bool, kMethods>;

double bonferroni_closed_level(const DirectFigures& f) {
  return f.level / static_cast<double>(f.closed_patterns_tested);
}

// The level method `m` judges a rule of `length` items at; NaN where it
// keeps no rule.
double rule_level(const DirectFigures& f, int m, int32_t length) {
  switch (m) {
    case bonferroni_tested:
      return f.miner_counts.corrected_level;
    case search_space:
      return search_space_level(f.level, f.space);
    case layered:
      return layered_level(f.level, f.space, length);
    case tarone:
      return f.tarone.level;
    case tarone_lowered:
      return f.tarone_lowered_asked ? f.tarone_lowered.level.level : NAN;
    case westfall_young:
      return f.westfall_young.permutations > 0 && f.westfall_young.allowed >= 0
                 ? f.westfall_young.level
                 : NAN;
    case fdr:
      return f.fdr.accepted > 0 ? fdr_level(f) : NAN;
    case bonferroni_closed:
      return bonferroni_closed_level(f);
    case tarone_closed:
      return f.tarone_closed.level;
  }
  return NAN;
}

struct RuleVerdicts {
  Verdicts significant{};
  Verdicts productive{};  // family-wise methods only
};

// Rule `rank` (0 = smallest p-value) under every method.
RuleVerdicts verdicts(const DirectFigures& f, size_t rank) {
  const DirectRule& rule = f.rules[rank];
  RuleVerdicts v;
  for (int m = 0; m < kMethods; ++m) {
    const double level = rule_level(f, m, static_cast<int32_t>(rule.items.size()));
    v.significant[m] = rule.pvalue <= level;
    v.productive[m] = family_wise(m) && v.significant[m] && rule.max_local_pvalue <= level;
  }
  return v;
}

// JSON has no infinity.
json real(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json count_json(const PatternCount& count) {
  if (!count.saturated && count.exact <= UINT64_MAX)
    return json(static_cast<uint64_t>(count.exact));
  return real(static_cast<double>(count.approximate));
}

json log10_json(const PatternCount& count) {
  return count.approximate > 0 ? real(static_cast<double>(std::log10(count.approximate)))
                               : json(nullptr);
}

// The rules each method keeps, those it keeps as productive, and those the
// layered levels keep per length.
struct RuleCounts {
  std::array<int64_t, kMethods> by_method{};
  std::array<int64_t, kMethods> productive{};
  std::vector<int64_t> layered_by_length;
};

RuleCounts count_rules(const DirectFigures& f) {
  RuleCounts counts;
  counts.layered_by_length.assign(static_cast<size_t>(f.space.longest) + 1, 0);
  for (size_t r = 0; r < f.rules.size(); ++r) {
    const RuleVerdicts v = verdicts(f, r);
    for (int m = 0; m < kMethods; ++m) {
      counts.by_method[m] += v.significant[m];
      counts.productive[m] += v.productive[m];
    }
    const size_t length = f.rules[r].items.size();
    if (v.significant[layered] && length < counts.layered_by_length.size())
      ++counts.layered_by_length[length];
  }
  return counts;
}

double shown_tarone_lowered_level(const DirectFigures& f) {
  return f.tarone_lowered_asked ? f.tarone_lowered.level.level : NAN;
}

double shown_westfall_young_level(const DirectFigures& f) {
  return f.westfall_young.permutations > 0 ? f.westfall_young.level : NAN;
}

json methods_json(const DirectFigures& f) {
  const RuleCounts counts = count_rules(f);
  const std::vector<int64_t>& layered_rules = counts.layered_by_length;
  json lengths = json::array();
  for (int32_t l = 1; l <= f.space.longest; ++l) {
    const PatternCount& size = f.space.by_length[static_cast<size_t>(l) - 1];
    lengths.push_back({{"length", l},
                       {"size", count_json(size)},
                       {"log10_size", log10_json(size)},
                       {"level", real(layered_level(f.level, f.space, l))},
                       {"rules", layered_rules[static_cast<size_t>(l)]}});
  }
  const WestfallYoungLevel& wy = f.westfall_young;
  json methods = {
      {"bonferroni_tested",
       {{"level", real(f.miner_counts.corrected_level)}, {"tests", f.patterns_tested}}},
      {"search_space",
       {{"level", real(search_space_level(f.level, f.space))},
        {"size", count_json(f.space.total)},
        {"log10_size", log10_json(f.space.total)}}},
      {"layered", {{"longest", f.space.longest}, {"lengths", lengths}}},
      {"tarone",
       {{"level", real(f.tarone.level)},
        {"testable", f.tarone.testable},
        {"lower_support", f.tarone.lower_support}}},
      {"tarone_lowered",
       {{"computed", f.tarone_lowered_asked},
        {"level", real(shown_tarone_lowered_level(f))},
        {"testable", f.tarone_lowered.level.testable},
        {"min_sup", f.tarone_lowered.min_sup},
        {"recounts", f.tarone_lowered.recounts}}},
      {"westfall_young",
       {{"level", real(shown_westfall_young_level(f))},
        {"permutations", wy.permutations},
        {"seed", f.seed},
        {"rule", kWestfallYoungRule},
        {"allowed_minima", wy.allowed},
        {"quantile", real(wy.quantile)},
        {"lower_support", wy.lower_support}}},
      {"fdr",
       {{"level", real(fdr_level(f))}, {"tests", f.patterns_tested}, {"accepted", f.fdr.accepted}}},
      {"bonferroni_closed",
       {{"level", real(bonferroni_closed_level(f))}, {"tests", f.closed_patterns_tested}}},
      {"tarone_closed",
       {{"level", real(f.tarone_closed.level)},
        {"testable", f.tarone_closed.testable},
        {"lower_support", f.tarone_closed.lower_support}}}};
  for (int m = 0; m < kMethods; ++m) {
    methods[kMethodNames[m]]["rules"] = counts.by_method[m];
    if (family_wise(m)) methods[kMethodNames[m]]["productive_rules"] = counts.productive[m];
    if (f.top_k > 0) methods[kMethodNames[m]]["valid_under_top_k"] = valid_under_top_k(m);
  }
  if (f.top_k > 0) methods["westfall_young"]["capped"] = f.westfall_young_capped;
  return methods;
}

json direct_record(const DirectFigures& f) {
  json counts = json::array();
  const std::vector<uint64_t>& by_support =
      f.tarone_lowered_asked ? f.tarone_lowered.patterns_by_support : f.patterns_by_support;
  const int32_t counted_from = f.tarone_lowered_asked ? f.tarone_lowered.min_sup : f.min_sup;
  for (size_t s = 0; s < by_support.size(); ++s)
    if (by_support[s] > 0) counts.push_back({{"support", s}, {"patterns", by_support[s]}});
  return {{"level", f.level},
          {"transactions", f.transactions},
          {"positives", f.positives},
          {"min_sup", f.min_sup},
          {"top_k",
           f.top_k > 0
               ? json{{"k", f.top_k}, {"bound", f.top_k_bound}, {"min_sup_given", f.min_sup_given}}
               : json(nullptr)},
          {"patterns_tested", f.patterns_tested},
          {"patterns_tested_saturated", f.count_saturated},
          {"closed_patterns_tested", f.closed_patterns_tested},
          {"closed_patterns_upper_bound", f.closed_upper_bound},
          {"rules", f.rules.size()},
          {"methods", methods_json(f)},
          {"patterns_by_support", {{"min_sup", counted_from}, {"counts", counts}}}};
}

bool write_direct_json(const std::string& path, const DirectFigures& f) {
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return false;
  const std::string body = direct_record_text(f);
  const bool written = std::fwrite(body.data(), 1, body.size(), file) == body.size();
  return close_written(file, path, written);
}

// A cell as a CSV field.
void put_cell(std::string& line, const RuleCell& cell) {
  if (const auto* number = std::get_if<int64_t>(&cell))
    line += std::to_string(*number);
  else if (const auto* real = std::get_if<double>(&cell))
    line += std::isnan(*real) ? std::string() : exact_real_text(*real);
  else if (const auto* text = std::get_if<std::string>(&cell))
    put_csv_field(line, *text);
  else
    line += std::get<bool>(cell) ? "1" : "0";
}

bool write_direct_rule_table(const std::string& path, const DirectFigures& f) {
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return false;
  std::string line;
  for (const RuleColumn& column : direct_rule_columns())
    line += (line.empty() ? "" : ",") + column.name;
  line += "\n";
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  for (size_t r = 0; written && r < f.rules.size(); ++r) {
    line.clear();
    for (const RuleCell& cell : direct_rule_cells(f, r)) {
      if (!line.empty()) line += ',';
      put_cell(line, cell);
    }
    line += "\n";
    written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  }
  return close_written(file, path, written);
}

}  // namespace

std::vector<MethodSummary> method_summaries(const DirectFigures& f) {
  const RuleCounts counts = count_rules(f);
  const std::array<double, kMethods> levels = {f.miner_counts.corrected_level,
                                               search_space_level(f.level, f.space),
                                               NAN,
                                               f.tarone.level,
                                               shown_tarone_lowered_level(f),
                                               shown_westfall_young_level(f),
                                               fdr_level(f),
                                               bonferroni_closed_level(f),
                                               f.tarone_closed.level};
  std::vector<MethodSummary> out;
  for (int m = 0; m < kMethods; ++m)
    out.push_back(MethodSummary{kMethodNames[m], levels[m], counts.by_method[m]});
  return out;
}

std::vector<RuleColumn> direct_rule_columns() {
  std::vector<RuleColumn> columns = {
      {"rank", CellKind::integer},    {"rule", CellKind::text},
      {"class", CellKind::text},      {"length", CellKind::integer},
      {"support", CellKind::integer}, {"class_support", CellKind::integer},
      {"confidence", CellKind::real}, {"lift", CellKind::real},
      {"pvalue", CellKind::real},     {"max_local_pvalue", CellKind::real}};
  for (const char* name : kMethodNames) columns.push_back({name, CellKind::flag});
  for (int m = 0; m < kMethods; ++m)
    if (family_wise(m))
      columns.push_back({std::string(kMethodNames[m]) + "_productive", CellKind::flag});
  return columns;
}

std::vector<RuleCell> direct_rule_cells(const DirectFigures& f, size_t rank) {
  const DirectRule& rule = f.rules[rank];
  const auto length = static_cast<int32_t>(rule.items.size());
  const double confidence =
      rule.support == 0 ? NAN : static_cast<double>(rule.class_support) / rule.support;
  const double lift = rule.support == 0 || f.positives == 0
                          ? NAN
                          : confidence / (static_cast<double>(f.positives) / f.transactions);
  std::vector<RuleCell> cells = {static_cast<int64_t>(rank + 1),
                                 rule_in_words(rule.items.data(), length, f.item_keys),
                                 f.class_value,
                                 int64_t{length},
                                 int64_t{rule.support},
                                 int64_t{rule.class_support},
                                 confidence,
                                 lift,
                                 rule.pvalue,
                                 rule.max_local_pvalue};
  const RuleVerdicts v = verdicts(f, rank);
  for (const bool significant : v.significant)
    cells.emplace_back(std::in_place_type<bool>, significant);
  for (int m = 0; m < kMethods; ++m)
    if (family_wise(m)) cells.emplace_back(std::in_place_type<bool>, v.productive[m]);
  return cells;
}

std::string direct_record_text(const DirectFigures& figures) {
  return direct_record(figures).dump(2) + "\n";
}

bool write_direct_results(const std::string& json_path, const std::string& rules_path,
                          const DirectFigures& figures) {
  const bool json_written = write_direct_json(json_path, figures);
  return write_direct_rule_table(rules_path, figures) && json_written;
}
