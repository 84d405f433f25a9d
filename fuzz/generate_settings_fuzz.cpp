// Fuzz target: the settings reader of varnel-generate, JSON text from the
// user that must give a sound model or one error line, never a crash.
#include <cstdint>
#include <random>
#include <string>

#include "generator_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::mt19937_64 engine(0);
  GeneratorModel model;
  std::string error;
  read_generator_settings(std::string(reinterpret_cast<const char*>(data), size), engine, model,
                          error);
  return 0;
}
