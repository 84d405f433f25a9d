// Formatting of the experiment's report and summary line.
#include "driver/experiment_report.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "common/messages.h"
#include "common/run_files.h"

namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, pattern, again);
  va_end(again);
  return text;
}

// A tab or line end in the dataset name would break the summary file's one
// line per experiment, tab-separated layout that scripts parse.
std::string name_for_summary(const std::string& name) {
  std::string safe = name;
  for (char& byte : safe) {
    if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f) byte = '?';
  }
  return safe;
}

}  // namespace

double elapsed_seconds(WallTime start, WallTime end) {
  // The millisecond difference may be negative; the sum is still right.
  return (end.milliseconds - start.milliseconds) / 1000.0 +
         static_cast<double>(end.seconds - start.seconds);
}

std::string format_report(const RuleCountRecord& counts) {
  return format("#significant rules at %.2E level: %d\n", counts.level, counts.sig_at_level) +
         format("#significant rules at %.2E level: %d\n", counts.corrected_level,
                counts.sig_at_corrected) +
         format("#significant rules at FDR %.2E: %d (%.3E)\n", counts.level, counts.sig_at_fdr,
                counts.fdr_pvalue) +
         "\n";
}

std::string format_summary_line(const ExperimentSettings& settings, double elapsed,
                                int32_t rules_tested, const RuleCountRecord& holdout,
                                const RuleCountRecord& counts) {
  return "RANDOM_VARNEL " + name_for_summary(settings.dataset_name) + "\t" +
         format("%d %d %.4f %.4f\t", settings.min_sup, settings.max_len, settings.max_pvalue,
                settings.max_local_pvalue) +
         format("CONFIDENCE %.3f\t", settings.min_diff) + format("%.4f\t", elapsed) +
         format("%d %d %d %d\t", rules_tested, holdout.sig_at_level, holdout.sig_at_corrected,
                holdout.sig_at_fdr) +
         format("%.3E %.3E %.3E\t", counts.level, counts.corrected_level, counts.fdr_pvalue) +
         format("%d %d %d\t", counts.sig_at_level, counts.sig_at_corrected, counts.sig_at_fdr) +
         "\n";
}

bool append_summary_line(const std::string& line) {
  const int file = open(kSummaryFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) {
    // Kept word for word, lower case included: scripts may match it.
    report_io_error("cannot open file varnel.sum.txt for appending");
    return false;
  }
  // Experiments of other folders may append to the same file through a link.
  while (flock(file, LOCK_EX) != 0 && errno == EINTR) {
  }
  // A signal that would end the process waits until the line is whole or
  // gone (a write that a fatal signal breaks off may leave part of it).
  sigset_t stops;
  sigset_t old_mask;
  sigemptyset(&stops);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
  sigprocmask(SIG_BLOCK, &stops, &old_mask);
  struct stat before;
  const bool regular = fstat(file, &before) == 0 && S_ISREG(before.st_mode);
  bool whole = write(file, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  // Some file systems (NFS) report a full disk only when the data reaches it.
  if (whole && regular && fdatasync(file) != 0) whole = false;
  bool cut_back = true;
  if (!whole && regular) cut_back = ftruncate(file, before.st_size) == 0;
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  close(file);
  if (whole) return true;
  report_io_error("cannot write file %s", kSummaryFile);
  if (!cut_back) {
    report_io_error("cannot cut %s back to its %lld bytes: it ends in part of a line", kSummaryFile,
                    static_cast<long long>(before.st_size));
  }
  return false;
}
