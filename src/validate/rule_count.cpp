// Reader and writer of the rule count file.
#include "validate/rule_count.h"

#include "common/file_open.h"
#include "common/run_files.h"
#include "common/text_numbers.h"

namespace {

bool scan_real(std::FILE* file, double& value) { return std::fscanf(file, "%lf", &value) == 1; }

bool scan_int(std::FILE* file, int32_t& value) { return scan_int32(file, value) == ScanStatus::ok; }

}  // namespace

void read_rule_count(std::FILE* file, RuleCountRecord& counts) {
  // Values are read in order and reading stops at the first one missing or
  // malformed, so every field after it keeps what it held.
  int32_t rules_tested = 0;
  double level = 0.0;
  double ignored = 0.0;
  int32_t ignored_count = 0;
  const bool have_rules = scan_int(file, rules_tested);
  if (have_rules && scan_real(file, level)) {
    counts.level = level;
    counts.corrected_level = level / static_cast<double>(rules_tested);
    if (scan_real(file, counts.fdr_pvalue) && scan_real(file, ignored) &&
        scan_real(file, ignored) && scan_int(file, counts.sig_at_level) &&
        scan_int(file, counts.sig_at_corrected) && scan_int(file, counts.sig_at_fdr)) {
      for (int i = 0; i < 4 && scan_int(file, ignored_count); ++i) {
      }
    }
  }
  std::fclose(file);
}

void write_rule_count(const std::string& output_name, int32_t rules_tested, double level,
                      const RuleCountRecord& counts) {
  const std::string path = rule_count_file(output_name);
  // The driver reads this file back for its report: a silent failure would
  // pass zeros off as results.
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return;
  std::fprintf(file, "%d\n%g\n%g\n0\n0\n%d\n%d\n%d\n0\n0\n0\n0\n", rules_tested, level,
               counts.fdr_pvalue, counts.sig_at_level, counts.sig_at_corrected, counts.sig_at_fdr);
  close_written(file, path);
}
