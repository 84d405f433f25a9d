// Fuzz target: the rule count file.
#include "fuzz_support.h"
#include "minerio/rule_count.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  write_fuzz_file("o.rulenum.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  RuleCountRecord counts;
  if (std::FILE* file = std::fopen("o.rulenum.txt", "r")) read_rule_count(file, counts);
  return 0;
}
