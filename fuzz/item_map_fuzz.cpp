// Fuzz target: the miner's item map.
#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/item_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  write_fuzz_file(item_map_file("o"), std::string_view(reinterpret_cast<const char*>(data), size));
  ItemMap map;
  if (std::FILE* file = std::fopen(item_map_file("o").c_str(), "r")) load_item_map(map, file);
  return 0;
}
