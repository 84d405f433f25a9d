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

void RuleCoder::code_keys(const std::string* const* columns, RuleChunk& chunk) {
  auto field = [&](int column) -> const std::string& { return *columns[column]; };
  bool added = false;
  int64_t code = written_.find(field(kRule));
  if (code < 0) {
    std::string canonical = canonical_rule(field(kRule));
    code = rules_.code_of(canonical, added);
    if (added) {
      chunk.new_rules.append(canonical).push_back('\0');
      chunk.new_rules.append(field(kLength)).push_back('\0');
      ++chunk.new_rule_count;
    }
    written_.add(field(kRule), code);
  }
  chunk.rules.push_back(code);

  for (auto [support, pvalue, codes] : {std::tuple{kMinedSupport, kMinedPvalue, &chunk.mined},
                                        std::tuple{kTestSupport, kTestPvalue, &chunk.test}}) {
    key_.assign(field(support)).push_back('\0');
    key_.append(field(pvalue));
    codes->push_back(pairs_.code_of(key_, added));
    if (added) {
      chunk.new_pairs.append(key_).push_back('\0');
      ++chunk.new_pair_count;
    }
  }
  key_.clear();
  for (Column column : kOutcomeColumns) key_.append(field(column)).push_back('\0');
  chunk.outcomes.push_back(outcomes_.code_of(key_, added));
  if (added) {
    chunk.new_outcomes.append(key_);
    ++chunk.new_outcome_count;
  }
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
  const int header_count = read == RecordRead::kRecord ? field_count : 0;
  int at[kColumns];  // header_count for a column the table lacks
  for (int column = 0; column < kColumns; ++column)
    at[column] = static_cast<int>(
        std::find(fields.begin(), fields.begin() + header_count, kColumnNames[column]) -
        fields.begin());
  if (at[kRank] == header_count || at[kRule] == header_count)
    return path + ": no rank or rule column";

  static const std::string kEmpty;
  const std::string* columns[kColumns];
  RuleChunk chunk;
  for (int64_t row = 0; read != RecordRead::kEnd;) {
    forget_if_full();
    chunk = RuleChunk{};
    while (static_cast<int64_t>(chunk.ranks.size()) < chunk_rows_) {
      read = records.next(fields, field_count, error);
      if (read == RecordRead::kEnd) break;
      ++row;
      auto place = [&] { return path + ": row " + std::to_string(row); };
      if (read == RecordRead::kError) return place() + ": " + error;
      if (field_count == 0) continue;  // an empty line
      if (field_count < header_count)
        return place() + " has " + std::to_string(field_count) + " fields, the header " +
               std::to_string(header_count);
      for (int column = 0; column < kColumns; ++column)
        columns[column] = at[column] < field_count ? &fields[at[column]] : &kEmpty;
      const std::string& rank_text = *columns[kRank];
      int64_t rank = 0;
      const char* end = rank_text.data() + rank_text.size();
      auto [stop, fault] = std::from_chars(rank_text.data(), end, rank);
      if (fault != std::errc() || stop != end)
        return place() + ": the rank '" + rank_text + "' is no whole number";
      chunk.ranks.push_back(rank);
      code_keys(columns, chunk);
    }
    if (chunk.ranks.empty()) break;
    chunk.renumbered = renumbered_;
    renumbered_ = 0;
    send(chunk);
  }
  return "";
}
