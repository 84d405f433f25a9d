// The miner's parameter file: lines "key=value", written by the driver (and by
// `Brimel --write-parameters` for scripts) and read by the miner. The keys and
// the fixed settings are stated here and nowhere else.
//
// Layout, one line each in this order: data_file, names_file, four fixed
// settings, target_attribute, target_value, two fixed settings, min_sup,
// max_len, max_pvalue, max_local_pvalue, one fixed setting, min_diff, the
// three last fixed settings, gen_tid_list ("yes" or "no"), output. Reals are
// written with six decimals, or in full when six decimals would change them.
// A file that asks for top-k mining has top_k=K next; one that asks for
// direct adjustment ends with three more lines:
// direct_adjustment=yes, permutations and permutation_seed, and a fourth,
// tarone_lowered=yes, when it asks for Tarone's level over a lowered
// support too; a file without them (the driver's) asks for none.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "common/run_files.h"

// The permutations of the Westfall-Young procedure: by default, and at most
// (each costs about a bit per record and pattern evaluated).
inline constexpr int32_t kDefaultPermutations = 1000;
inline constexpr int32_t kMaxPermutations = 100000;
inline constexpr uint64_t kDefaultPermutationSeed = 1;

// The smallest level the miner takes, the smallest normal double: a smaller
// number has lost digits to underflow, and its text reads back only near it.
inline constexpr double kMinLevel = std::numeric_limits<double>::min();

struct MinerParams {
  std::string data_file;
  std::string names_file;
  std::string target_attribute;
  std::string target_value;  // empty: rank the class values by frequency
  std::string output;        // base name of every output file
  int32_t min_sup = 0;
  int32_t max_len = kMaxLen;
  double max_pvalue = 0.05;
  double max_local_pvalue = kMaxLocalPvalue;
  double min_diff = kMinDiff;
  bool gen_tid_list = true;
  // Top-k mining: the top_k rules of smallest p-value (ties broken by fewer
  // items, then by their item ids), with min_sup as a floor only; the
  // search raises its support as the K-th p-value found so far falls
  // (brimel's top_k.h). 0: every rule.
  int32_t top_k = 0;
  // Direct adjustment: every correction for the patterns tested, beside the
  // rules (brimel's O.direct.json and O.direct.rules.csv).
  bool direct = false;
  int32_t permutations = kDefaultPermutations;  // Westfall-Young's; 0: none
  uint64_t permutation_seed = kDefaultPermutationSeed;
  // Tarone's level also with the support lowered until no pattern left out
  // could reach it: a count of every pattern down to that support, which can
  // cost far more than the run itself.
  bool tarone_lowered = false;
};

namespace parameter_key {
inline constexpr std::string_view data_file = "data_file";
inline constexpr std::string_view names_file = "names_file";
inline constexpr std::string_view target_attribute = "target_attribute";
inline constexpr std::string_view target_value = "target_value";
inline constexpr std::string_view min_sup = "min_sup";
inline constexpr std::string_view max_len = "max_len";
inline constexpr std::string_view max_pvalue = "max_pvalue";
inline constexpr std::string_view max_local_pvalue = "max_local_pvalue";
inline constexpr std::string_view min_diff = "min_diff";
inline constexpr std::string_view gen_tid_list = "gen_tid_list";
inline constexpr std::string_view output = "output";
inline constexpr std::string_view top_k = "top_k";
inline constexpr std::string_view direct = "direct_adjustment";
inline constexpr std::string_view permutations = "permutations";
inline constexpr std::string_view permutation_seed = "permutation_seed";
inline constexpr std::string_view tarone_lowered = "tarone_lowered";
}  // namespace parameter_key

// Settings always written with these values; the miner implements exactly
// them and refuses any other value.
struct FixedMinerSetting {
  std::string_view key;
  std::string_view value;
};
inline constexpr std::array<FixedMinerSetting, 10> kFixedMinerSettings = {{
    {"materialization_mode", "freq only"},
    {"signal_type", "rule"},
    {"context_attributes", ""},
    {"comparing_attributes", ""},
    {"test-statistic", "fisher's exact test"},
    {"compare_mode", "pairwise"},
    {"effect_size_method", "confidence"},
    {"seeding_method", "global"},
    {"data_perm_method", "swap"},
    {"output_mode", "all"},
}};

// The settings for mining the data set "<data_base>.data" with its
// "<data_base>.names", every other setting at its fixed value.
MinerParams miner_params_for(const std::string& data_base, const std::string& target_attribute,
                             const std::string& target_value, int32_t min_sup, double max_pvalue,
                             const std::string& output);

// Whether a text value holds a line break, which would add lines (and keys)
// of its own to the file.
bool holds_line_break(const std::string& text);

// Creates or truncates the file at `path` with the 21 lines of `params`
// (one more with top_k, three or four more with direct adjustment).
// Returns false after "Error: parameter <key> holds a line break" (nothing is
// written), "Error: cannot open file <path> for write" or, when the lines
// could not all be written, "Error: cannot write file <path>".
bool write_miner_params(const std::string& path, const MinerParams& params);

// Fills `params` from the parameter file at `path`. Prints an "Error: " line
// and returns false for a missing file, a missing required key, a key given
// twice (which of the two was meant cannot be told), a value out of range and
// a fixed setting the miner cannot honour; an unknown key only gets a
// "Warning: " line.
bool read_miner_params(const std::string& path, MinerParams& params);

// Parsers of the numeric values, shared with the command line that writes a
// parameter file: the whole text must be the number.
bool parse_min_sup(const std::string& text, int32_t& value);    // an integer >= 1
bool parse_max_pvalue(const std::string& text, double& value);  // kMinLevel .. 1
// What a level must be, for messages: "a number from 2.2250738585072014e-308 to 1".
std::string level_range_text();
bool parse_permutations(const std::string& text, int32_t& value);       // 0 .. kMaxPermutations
bool parse_permutation_seed(const std::string& text, uint64_t& value);  // any 64-bit number
bool parse_top_k(const std::string& text, int32_t& value);              // an integer >= 1
