// Fuzz target: the class-value map file.
#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/mining_stats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  write_fuzz_file(class_value_map_file("o"),
                  std::string_view(reinterpret_cast<const char*>(data), size));
  ClassValueMap map;
  read_class_value_map("o", map);
  return 0;
}
