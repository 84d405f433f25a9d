// Reader and writer of the rule count file.
#include "minerio/rule_count.h"

#include "common/file_open.h"
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

bool write_rule_count_file(const std::string& path, const RuleCountFile& v, RealDigits digits) {
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return false;
  const char* real = digits == RealDigits::six ? "%g\n" : "%.17g\n";
  std::fprintf(file, "%llu\n", static_cast<unsigned long long>(v.tested));
  for (const double value : {v.level, v.fdr_pvalue, v.max_local_pvalue, v.min_diff})
    std::fprintf(file, real, value);
  std::fprintf(file, "%d\n%d\n%d\n%llu\n%lld\n%lld\n0\n", v.sig_at_level, v.sig_at_corrected,
               v.sig_at_fdr, static_cast<unsigned long long>(v.within_level),
               static_cast<long long>(v.items), static_cast<long long>(v.longest_rule));
  return close_written(file, path);
}
