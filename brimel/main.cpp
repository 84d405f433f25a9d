// Entry point of the rule miner: `Brimel <parameter file>`.
#include <cstdio>

#include "run_brimel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: Brimel <parameter file>\n", stdout);
    return 2;
  }
  return run_brimel(argv[1]);
}
