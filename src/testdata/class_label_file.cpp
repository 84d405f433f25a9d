// Writer of the class-label file of both parts.
#include "testdata/class_label_file.h"

#include <algorithm>
#include <cstdio>

#include "driver/run_stats.h"

void write_test_class_labels(const std::string& output_name, const TrainingClassLabels& training,
                             const ClassLabels& test) {
  const std::string path = output_name + ".tgtvalues.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::printf("Error: cannot open file %s for write\n", path.c_str());
    return;
  }
  const size_t train_count =
      std::min(training.size(), static_cast<size_t>(std::max(run_stats.train_instances, 0)));
  std::fprintf(file, "%zu ", train_count + test.size());
  for (size_t i = 0; i < train_count; ++i) std::fprintf(file, "%d ", training[i]);
  for (const int32_t label : test) std::fprintf(file, "%d ", label);
  std::fputc('\n', file);
  if (std::fclose(file) != 0) std::printf("Error: cannot write file %s\n", path.c_str());
}
