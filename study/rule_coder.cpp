#include "rule_coder.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include "csv_record.h"

namespace {

constexpr std::string_view kItemSeparator = " & ";

// Columns of a rule table that the codes keep, by name.
enum Column {
  kRank,
  kRule,
  kLength,
  kMinedSupport,
  kMinedPvalue,
  kTestSupport,
  kTestPvalue,
  kClass,
  kDirection,
  kSignificant,
  kSignificantCorrected,
  kSignificantFdr,
  kColumns
};
constexpr const char* kColumnNames[kColumns] = {"rank",
                                                "rule",
                                                "length",
                                                "mined_support",
                                                "mined_pvalue",
                                                "test_support",
                                                "test_pvalue",
                                                "class",
                                                "direction",
                                                "significant",
                                                "significant_corrected",
                                                "significant_fdr"};
constexpr Column kOutcomeColumns[] = {kClass, kDirection, kSignificant, kSignificantCorrected,
                                      kSignificantFdr};

}  // namespace

std::string canonical_rule(std::string_view text) {
  std::vector<std::string_view> items;
  for (size_t at = 0;;) {
    size_t next = text.find(kItemSeparator, at);
    items.push_back(text.substr(at, next == std::string_view::npos ? next : next - at));
    if (next == std::string_view::npos) break;
    at = next + kItemSeparator.size();
  }
  std::sort(items.begin(), items.end());
  std::string canonical(items.front());
  for (size_t item = 1; item < items.size(); ++item)
    canonical.append(kItemSeparator).append(items[item]);
  return canonical;
}

void RuleCoder::forget_if_full() {
  KeyCodes* kinds[] = {&rules_, &pairs_, &outcomes_};
  for (int kind = 0; kind < 3; ++kind) {
    if (kinds[kind]->size() >= known_keys_) {
      kinds[kind]->clear();
      renumbered_ |= int64_t{1} << kind;
    }
  }
  if ((renumbered_ & 1) != 0 || written_.size() >= known_keys_) written_.clear();
}

std::string RuleCoder::code_table(const std::string& path,
                                  const std::function<void(const RuleChunk&)>& send) {
  CsvRecords records(path);
  if (!records.ok()) return path + ": cannot open: " + records.error();
  std::vector<std::string> fields;
  int field_count = 0;
  std::string error;
  RecordRead read = records.next(fields, field_count, error);
  if (read == RecordRead::kError) return path + ": " + error;
  int header_count = read == RecordRead::kRecord ? field_count : 0;
  int at[kColumns];
  for (int column = 0; column < kColumns; ++column) {
    auto named = std::find(fields.begin(), fields.begin() + header_count, kColumnNames[column]);
    at[column] = static_cast<int>(named - fields.begin());  // header_count when missing
  }
  if (at[kRank] == header_count || at[kRule] == header_count)
    return path + ": no rank or rule column";
  static const std::string kEmpty;
  auto field = [&](Column column) -> const std::string& {
    return at[column] < field_count ? fields[at[column]] : kEmpty;
  };

  RuleChunk chunk;
  std::string key;
  int64_t row = 0;
  for (bool more = true; more;) {
    forget_if_full();
    chunk = RuleChunk{};
    while (static_cast<int64_t>(chunk.ranks.size()) < chunk_rows_) {
      read = records.next(fields, field_count, error);
      if (read == RecordRead::kError)
        return path + ": row " + std::to_string(row + 1) + ": " + error;
      if (read == RecordRead::kEnd) {
        more = false;
        break;
      }
      ++row;
      if (field_count == 0) continue;  // an empty line
      if (field_count < header_count)
        return path + ": row " + std::to_string(row) + " has " + std::to_string(field_count) +
               " fields, the header " + std::to_string(header_count);
      const std::string& rank_text = field(kRank);
      int64_t rank = 0;
      auto [end, fault] =
          std::from_chars(rank_text.data(), rank_text.data() + rank_text.size(), rank);
      if (fault != std::errc() || end != rank_text.data() + rank_text.size())
        return path + ": row " + std::to_string(row) + ": the rank '" + rank_text +
               "' is no whole number";
      chunk.ranks.push_back(rank);

      bool added = false;
      const std::string& rule = field(kRule);
      int64_t code = written_.find(rule);
      if (code < 0) {
        std::string canonical = canonical_rule(rule);
        code = rules_.code_of(canonical, added);
        if (added) {
          chunk.new_rules.append(canonical).push_back('\0');
          chunk.new_rules.append(field(kLength)).push_back('\0');
          ++chunk.new_rule_count;
        }
        written_.add(rule, code);
      }
      chunk.rules.push_back(code);

      for (auto [support, pvalue, codes] : {std::tuple{kMinedSupport, kMinedPvalue, &chunk.mined},
                                            std::tuple{kTestSupport, kTestPvalue, &chunk.test}}) {
        key.assign(field(support)).push_back('\0');
        key.append(field(pvalue));
        codes->push_back(pairs_.code_of(key, added));
        if (added) {
          chunk.new_pairs.append(key).push_back('\0');
          ++chunk.new_pair_count;
        }
      }
      key.clear();
      for (Column column : kOutcomeColumns) key.append(field(column)).push_back('\0');
      chunk.outcomes.push_back(outcomes_.code_of(key, added));
      if (added) {
        chunk.new_outcomes.append(key);
        ++chunk.new_outcome_count;
      }
    }
    if (chunk.ranks.empty()) break;
    chunk.renumbered = renumbered_;
    renumbered_ = 0;
    send(chunk);
  }
  return "";
}
