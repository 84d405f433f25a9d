// Fuzz target: the tid-list directory and tid-list file together, with the
// rules whose lists they rebuild.
#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/mining_stats.h"
#include "validate/validation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  const auto pieces = split_fuzz_input(data, size, 4);
  write_fuzz_file(statistics_file("o"), pieces[0]);
  write_fuzz_file(rule_file("o"), pieces[1]);
  write_fuzz_file(tidlist_directory_file("o"), pieces[2]);
  write_fuzz_file(tidlist_file("o"), pieces[3]);
  const MinedPartCounts part = read_mining_statistics("o");
  // As validation reads them: the rules, then every tid list rebuilt once.
  MinedRules mined;
  read_mined_rules("o", part.transactions, mined);
  close_rule_tid_lists(mined.lists);
  return 0;
}
