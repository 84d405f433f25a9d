// The rule rows of rule tables as codes: each rule (its items in a fixed
// order), each pair of a support and a p-value and each outcome gets a
// number the first time it is met, and is handed on with the chunk of rows
// that first uses it, so the database looks up each once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "key_codes.h"

// Rows of a rule table with their codes, and the keys first met in them.
struct RuleChunk {
  // Bit k set: kind k (rules, pairs, outcomes) was numbered anew from 0
  // before this chunk; the codes given before mean nothing any more.
  int64_t renumbered = 0;
  std::vector<int64_t> ranks, rules, mined, test, outcomes;
  // The fields of the new keys, each followed by a NUL byte (no field holds
  // one): per new rule its items in a fixed order and its length field; per
  // new pair its support and p-value fields; per new outcome its class,
  // direction, significant, significant_corrected and significant_fdr.
  std::string new_rules, new_pairs, new_outcomes;
  int64_t new_rule_count = 0, new_pair_count = 0, new_outcome_count = 0;
};

// A rule's items in a fixed order (sorted bytes): the miner numbers items
// per split, so one rule may be written in another order in another split.
std::string canonical_rule(std::string_view text);

class RuleCoder {
 public:
  // Each kind is numbered anew once it knows `known_keys` keys (memory stays
  // bounded); chunks hold at most `chunk_rows` rows.
  RuleCoder(int64_t known_keys, int64_t chunk_rows)
      : known_keys_(known_keys), chunk_rows_(chunk_rows) {}

  // Codes the rule table at path, handing each chunk to `send`. Returns an
  // empty text, or what is wrong with the table ("<path>: ...").
  std::string code_table(const std::string& path,
                         const std::function<void(const RuleChunk&)>& send);

 private:
  void forget_if_full();
  // Codes the rule, pairs and outcome of a row whose fields are `columns`
  // (in the order of the columns the codes keep), into `chunk`.
  void code_keys(const std::string* const* columns, RuleChunk& chunk);

  int64_t known_keys_, chunk_rows_;
  KeyCodes rules_, pairs_, outcomes_;
  // The code of each rule as written lately, before its items are ordered.
  KeyCodes written_;
  int64_t renumbered_ = 0;
  std::string key_;  // the key being looked up
};
