// Entry point of the rule miner: `Brimel <parameter file>`, or
// `Brimel --write-parameters ...` to write a parameter file for scripts, so
// that no script spells out the file's keys.
#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "common/messages.h"
#include "common/run_files.h"
#include "common/text_lines.h"
#include "minerio/driver_link.h"
#include "minerio/miner_params.h"
#include "permuted_labels.h"
#include "run_brimel.h"

namespace {

// The search frees blocks of memory and takes them again all the time. Kept
// by the allocator rather than handed back to the system, they are not
// zeroed page by page anew on their next use: a tenth of a run on 50,000
// records went to that. Blocks of 16 MiB and more, which the set-up takes
// once (each thread's share of the records), still go back, or the heap
// would keep them beside everything the search takes later.
void keep_freed_memory() {
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

void print_usage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: Brimel PARAMETER_FILE\n"
               "       Brimel --write-parameters PARAMETER_FILE DATASET TARGET_ATTR TARGET_VALUE "
               "MIN_SUP MAX_PVALUE OUTPUT [--no-tid-lists]\n"
               "              [--top-k K] [--direct [--permutations J] [--permutation-seed S] "
               "[--tarone-lowered]]\n"
               "mines the rules the parameter file asks for and writes, for its output name O,\n"
               "%s\n"
               "--write-parameters writes the parameter file for mining DATASET.data with\n"
               "DATASET.names as the experiment driver would, the other settings fixed;\n"
               "--top-k keeps the K rules of smallest p-value, MIN_SUP a floor only;\n"
               "--direct asks for direct adjustment too (%s and %s),\n"
               "with J permutations (default %d, 0 for none, at most %d) drawn from seed S,\n"
               "and with --tarone-lowered Tarone's level over a lowered support as well\n",
               files_in_braces("O", brimel_output_files("O", true)).c_str(),
               direct_results_file("O").c_str(), direct_rule_table_file("O").c_str(),
               kDefaultPermutations, kMaxPermutations);
}

// The options after OUTPUT; false after an "Error: " line, or with `usage`
// set when they are not options of the command at all.
bool take_options(int count, char** args, MinerParams& params, bool& usage) {
  bool numbers_given = false;
  for (int i = 0; i < count; ++i) {
    const std::string option = args[i];
    const bool valued =
        option == "--permutations" || option == "--permutation-seed" || option == "--top-k";
    if (option == "--no-tid-lists") {
      params.gen_tid_list = false;
    } else if (option == "--direct") {
      params.direct = true;
    } else if (option == "--tarone-lowered") {
      params.tarone_lowered = true;
      numbers_given = true;
    } else if (!valued || i + 1 == count) {
      usage = true;
      return false;
    } else if (option == "--top-k") {
      const char* value = args[++i];
      if (!parse_top_k(value, params.top_k)) {
        report_error("--top-k %s: an integer of at least 1 expected", value);
        return false;
      }
    } else {
      numbers_given = true;
      const char* value = args[++i];
      if (option == "--permutations" ? !parse_permutations(value, params.permutations)
                                     : !parse_permutation_seed(value, params.permutation_seed)) {
        if (option == "--permutations")
          report_error("--permutations %s: an integer from 0 to %d expected", value,
                       kMaxPermutations);
        else
          report_error("--permutation-seed %s: an integer from 0 to %llu expected", value,
                       static_cast<unsigned long long>(UINT64_MAX));
        return false;
      }
    }
  }
  if (!params.direct && numbers_given) {
    report_error("--permutations, --permutation-seed and --tarone-lowered need --direct");
    return false;
  }
  return true;
}

// `args`: PARAMETER_FILE DATASET TARGET_ATTR TARGET_VALUE MIN_SUP MAX_PVALUE
// OUTPUT [options]. Returns the exit status.
int write_parameters_command(int count, char** args) {
  if (count < 7) {
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
    report_error("MAX_PVALUE %s: %s expected", args[5], level_range_text().c_str());
    return 1;
  }
  // An empty name would write hidden files (".sorted.rules.txt").
  if (args[6][0] == '\0') {
    report_error("OUTPUT: a name expected; it begins the name of every output file");
    return 1;
  }
  MinerParams params = miner_params_for(args[1], args[2], args[3], min_sup, max_pvalue, args[6]);
  bool usage = false;
  if (!take_options(count - 7, args + 7, params, usage)) {
    if (!usage) return 1;
    print_usage(stdout);
    return 2;
  }
  return write_miner_params(args[0], params) ? 0 : 1;
}

// Whether the permutations' labels alone (as prepare_direct_run sizes them:
// a row of plane_words(J) words per transaction, one per data line) come to
// at least half of what the run held at its peak: then fewer permutations,
// not a larger min_sup, is what helps. Read only after memory ran out.
bool permutations_took_memory(const MinerParams& params) {
  if (!params.direct || params.permutations == 0) return false;
  std::FILE* data = std::fopen(params.data_file.c_str(), "r");
  if (data == nullptr) return false;
  double transactions = 0;
  std::string line;
  while (read_text_line(data, line)) transactions += line.empty() ? 0 : 1;
  std::fclose(data);
  const double labels = transactions * static_cast<double>(plane_words(params.permutations)) * 8;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peak = static_cast<double>(usage.ru_maxrss) * 1024;
  return labels >= peak / 2;
}

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory();
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
  // A minimum support pushed too low, or too many permutations, can ask for
  // more memory than there is; the output files under their real names are
  // then left as they were.
  bool ok = false;
  MinerParams params;
  try {
    ok = read_miner_params(argv[1], params) && run_brimel(params).ok;
  } catch (const std::bad_alloc&) {
    if (permutations_took_memory(params)) {
      report_io_error("out of memory with %d permutations; ask for fewer permutations",
                      params.permutations);
    } else {
      report_io_error("out of memory; try a larger min_sup or a smaller max_len");
    }
  }
  // Any error line fails the run, even one about a record after which every
  // file was still written: a caller must not take those files for sound.
  if (ok && reported_lines().errors.empty()) return 0;
  return reported_lines().io_errors > 0 ? kMinerSystemFailure : 1;
}
