// Opening input files with the system's message for a missing one.
#include "testdata/input_files.h"

std::FILE* open_for_read(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) std::printf("Error: cannot open file %s for read\n", path.c_str());
  return file;
}
