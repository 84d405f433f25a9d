// Entry point of the rule miner: `Brimel <parameter file>`.
#include <cstdio>
#include <cstring>
#include <new>

#include "run_brimel.h"

namespace {

void print_usage(std::FILE* stream) {
  std::fputs("usage: Brimel PARAMETER_FILE\n"
             "mines the rules the parameter file asks for and writes, for its output name O,\n"
             "O.{attrvalue2item.txt,tgtvalues.map,tgtvalues,sorted.rules.txt,tidlist.dir,"
             "tidlist,sorted.rulenum.txt,cfptree.stat}\n",
             stream);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    print_usage(stdout);
    return 0;
  }
  // A parameter file is never named like an option; one that looks like it
  // is a mistyped option, not a file to look for.
  if (argc != 2 || argv[1][0] == '-') {
    print_usage(stdout);
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
