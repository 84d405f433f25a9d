// The counts that the stages of one experiment hand to each other, and the
// table of log10 factorials that Fisher's exact test reads.
#pragma once

#include <cstdint>
#include <vector>

// Entry i holds log10(i!), built by a running sum so that every entry rounds
// the same way on every run.
using LogFactorialTable = std::vector<double>;

// The one process-wide block; every field is zero (or null) until the stage
// that sets it has run, and no stage resets it.
struct RunStats {
  int32_t train_instances = 0;   // transactions of the mining part
  int32_t sig_at_level = 0;      // rules kept by validation
  int32_t rules_read = 0;        // mined rules read for validation
  int32_t sig_at_fdr = 0;        // kept rules accepted by the FDR step
  int32_t sig_at_corrected = 0;  // kept rules within the corrected level
  // The run's table while validation runs; null before it is built and not
  // to be used after the run has released it.
  const double* log_factorial = nullptr;
};

extern RunStats run_stats;

// A table of n + 1 entries (n >= 0; a negative n is taken as 0).
LogFactorialTable build_log_factorial_table(int n);
