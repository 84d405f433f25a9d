// Fuzz target: the miner's parameter file, then the attribute description and
// the records it names.
#include "common/run_files.h"
#include "fuzz_support.h"
#include "minerio/miner_params.h"
#include "mining_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  const auto pieces = split_fuzz_input(data, size, 3);
  write_fuzz_file(kParameterFile, pieces[0]);
  write_fuzz_file("d.names", pieces[1]);
  write_fuzz_file("d.data", pieces[2]);
  MinerParams params;
  if (!read_miner_params(kParameterFile, params)) return 0;
  // Whatever files the parameters name, the data read is the fuzzed one.
  params.data_file = "d.data";
  params.names_file = "d.names";
  MiningData mining;
  read_mining_data(params, mining);
  return 0;
}
