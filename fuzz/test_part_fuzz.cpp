// Fuzz target: the test part loader, with its attribute description, item map
// and class-value map; the first byte chooses a target value or none.
#include <cstdlib>

#include "common/run_files.h"
#include "fuzz_support.h"
#include "testpart/test_part.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  if (size == 0) return 0;
  const bool with_target = data[0] & 1;
  const auto pieces = split_fuzz_input(data + 1, size - 1, 4);
  write_fuzz_file("d.names", pieces[0]);
  write_fuzz_file(item_map_file("o"), pieces[1]);
  write_fuzz_file("d_part_1.data", pieces[2]);
  AttributeNames names;
  if (std::FILE* file = std::fopen("d.names", "r")) read_attribute_names(names, file);
  ClassValueMap classes;
  for (size_t i = 0, start = 0; i <= pieces[3].size(); ++i) {
    if (i == pieces[3].size() || pieces[3][i] == '\n') {
      classes[pieces[3].substr(start, i - start)] = static_cast<int>(classes.size());
      start = i + 1;
    }
  }
  TestTransactions transactions;
  ClassLabels labels;
  const std::string target_attr = names.empty() ? "class" : names.back();
  load_test_part("d_part_1", names, target_attr, with_target ? "1" : "", classes, transactions,
                 labels, "o");
  if (transactions.size() != labels.size()) std::abort();
  return 0;
}
