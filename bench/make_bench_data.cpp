// Writes a benchmark data set: `make_bench_data correlated|dense RECORDS SEED BASE`
// gives BASE.data and BASE.names, the same bytes for the same arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_data.h"

namespace {

bool parse_count(const char* text, unsigned long long limit, unsigned long long& value) {
  char* end = nullptr;
  if (text[0] < '0' || text[0] > '9') return false;
  value = std::strtoull(text, &end, 10);
  return *end == '\0' && value <= limit;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long records = 0, seed = 0;
  const std::string kind = argc == 5 ? argv[1] : "";
  if ((kind != "correlated" && kind != "dense") || !parse_count(argv[2], 2000000000, records) ||
      !parse_count(argv[3], 4294967295ULL, seed)) {
    std::fputs("usage: make_bench_data correlated|dense RECORDS SEED BASE\n", stderr);
    return 2;
  }
  const bool written =
      kind == "correlated"
          ? write_correlated_data(argv[4], static_cast<long>(records), static_cast<unsigned>(seed))
          : write_dense_data(argv[4], static_cast<int>(records), 22, static_cast<unsigned>(seed));
  if (!written) {
    std::fprintf(stderr, "Error: cannot write %s.data and %s.names\n", argv[4], argv[4]);
    return 1;
  }
  return 0;
}
