// Writer of the class-label file of both parts.
#include "testpart/class_label_file.h"

#include <algorithm>
#include <cstdio>

#include "common/file_open.h"
#include "common/run_files.h"
#include "driver/run_stats.h"

void write_test_class_labels(const std::string& output_name, const TrainingClassLabels& training,
                             const ClassLabels& test) {
  const std::string path = test_class_labels_file(output_name);
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  const size_t train_count =
      std::min(training.size(), static_cast<size_t>(std::max(run_stats.train_instances, 0)));
  std::fprintf(file, "%zu ", train_count + test.size());
  for (size_t i = 0; i < train_count; ++i) std::fprintf(file, "%d ", training[i]);
  for (const int32_t label : test) std::fprintf(file, "%d ", label);
  std::fputc('\n', file);
  close_written(file, path);
}
