// Fuzz target: the miner's rule file, after a statistics file that sets the
// number of mined transactions.
#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/mining_stats.h"
#include "minerio/rule_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  const auto pieces = split_fuzz_input(data, size, 2);
  write_fuzz_file(statistics_file("o"), pieces[0]);
  write_fuzz_file(rule_file("o"), pieces[1]);
  const MinedPartCounts part = read_mining_statistics("o");
  RuleSet rules;
  read_rules("o", part.transactions, rules);
  return 0;
}
