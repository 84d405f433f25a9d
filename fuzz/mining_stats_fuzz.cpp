// Fuzz target: the statistics file and the class-label file it sizes.
#include <algorithm>

#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/mining_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  const auto pieces = split_fuzz_input(data, size, 2);
  write_fuzz_file(statistics_file("o"), pieces[0]);
  write_fuzz_file(class_labels_file("o"), pieces[1]);
  const MinedPartCounts part = read_mining_statistics("o");
  TrainingClassLabels labels(static_cast<size_t>(std::clamp(part.transactions, 0, 1 << 16)));
  read_training_class_labels("o", part.transactions, labels);
  return 0;
}
