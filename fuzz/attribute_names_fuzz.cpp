// Fuzz target: the attribute description.
#include "fuzz_support.h"
#include "testpart/attribute_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  write_fuzz_file("d.names", std::string_view(reinterpret_cast<const char*>(data), size));
  AttributeNames names;
  if (std::FILE* file = std::fopen("d.names", "r")) read_attribute_names(names, file);
  return 0;
}
