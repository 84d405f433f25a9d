// Fuzz target: the ARFF and CSV readers of the data preparation command; the
// first byte chooses the format.
#include "arff_reader.h"
#include "csv_reader.h"
#include "fuzz_support.h"
#include "input_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  enter_fuzz_directory();
  if (size == 0) return 0;
  write_fuzz_file("input", std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  std::vector<std::string> lines;
  std::string error;
  if (!read_input_lines("input", lines, error)) return 0;
  RawDataset dataset;
  if (data[0] & 1) {
    read_arff(lines, "input", dataset, error);
  } else {
    read_csv(lines, "input", dataset, error);
  }
  return 0;
}
