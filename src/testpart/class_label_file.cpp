// Writer of the class-label file of both parts.
#include "testpart/class_label_file.h"

#include <cstdio>

#include "common/file_open.h"
#include "common/run_files.h"

void write_test_class_labels(const std::string& output_name, const TrainingClassLabels& training,
                             const ClassLabels& test) {
  const std::string path = test_class_labels_file(output_name);
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  std::fprintf(file, "%zu ", training.size() + test.size());
  for (const int32_t label : training) std::fprintf(file, "%d ", label);
  for (const int32_t label : test) std::fprintf(file, "%d ", label);
  std::fputc('\n', file);
  close_written(file, path);
}
