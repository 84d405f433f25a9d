// Entry point of the rule miner: `Brimel <parameter file>`, or
// `Brimel --write-parameters ...` to write a parameter file for scripts, so
// that no script spells out the file's keys.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/messages.h"
#include "miner/miner_params.h"
#include "run_brimel.h"

namespace {

void print_usage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: Brimel PARAMETER_FILE\n"
               "       Brimel --write-parameters PARAMETER_FILE DATASET TARGET_ATTR TARGET_VALUE "
               "MIN_SUP MAX_PVALUE OUTPUT [--no-tid-lists]\n"
               "mines the rules the parameter file asks for and writes, for its output name O,\n"
               "%s\n"
               "--write-parameters writes the parameter file for mining DATASET.data with\n"
               "DATASET.names as the experiment driver would, the other settings fixed\n",
               files_in_braces("O", brimel_output_files("O", true)).c_str());
}

// `args`: PARAMETER_FILE DATASET TARGET_ATTR TARGET_VALUE MIN_SUP MAX_PVALUE
// OUTPUT [--no-tid-lists]. Returns the exit status.
int write_parameters_command(int count, char** args) {
  const bool no_tid_lists = count == 8 && std::strcmp(args[7], "--no-tid-lists") == 0;
  if (count != 7 && !no_tid_lists) {
    print_usage(stdout);
    return 2;
  }
  int32_t min_sup = 0;
  double max_pvalue = 0.0;
  if (!parse_min_sup(args[4], min_sup)) {
    report_error("MIN_SUP %s: an integer of at least 1 expected", args[4]);
    return 1;
  }
  if (!parse_max_pvalue(args[5], max_pvalue)) {
    report_error("MAX_PVALUE %s: a number above 0 and at most 1 expected", args[5]);
    return 1;
  }
  MinerParams params = miner_params_for(args[1], args[2], args[3], min_sup, max_pvalue, args[6]);
  params.gen_tid_list = !no_tid_lists;
  return write_miner_params(args[0], params) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    print_usage(stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--write-parameters") == 0)
    return write_parameters_command(argc - 2, argv + 2);
  // A parameter file is never named like an option; one that looks like it
  // is a mistyped option, not a file to look for.
  if (argc != 2 || argv[1][0] == '-') {
    print_usage(stdout);
    return 2;
  }
  // A minimum support pushed too low can ask for more memory than there is;
  // the output files under their real names are then left as they were.
  int status = 1;
  try {
    status = run_brimel(argv[1]);
  } catch (const std::bad_alloc&) {
    report_error("out of memory; try a larger min_sup or a smaller max_len");
  }
  // Any error line fails the run, even one about a record after which every
  // file was still written: a caller must not take those files for sound.
  return reported_lines().errors.empty() ? status : 1;
}
