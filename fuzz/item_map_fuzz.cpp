// Fuzz target: the miner's item map.
#include "fuzz_support.h"
#include "testpart/test_part.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  write_fuzz_file("o.attrvalue2item.txt", std::string_view(reinterpret_cast<const char*>(data), size));
  ItemMap map;
  if (std::FILE* file = std::fopen("o.attrvalue2item.txt", "r")) load_item_map(map, file);
  return 0;
}
