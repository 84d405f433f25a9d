// Entry point of the rule miner: `Brimel <parameter file>`.
#include <cstdio>
#include <new>

#include "run_brimel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: Brimel <parameter file>\n", stdout);
    return 2;
  }
  // A minimum support pushed too low can ask for more memory than there is;
  // the output files under their real names are then left as they were.
  try {
    return run_brimel(argv[1]);
  } catch (const std::bad_alloc&) {
    std::fputs("Error: out of memory; try a larger min_sup or a smaller max_len\n", stdout);
    return 1;
  }
}
