// The counts that the stages of one experiment hand to each other.
#pragma once

#include <cstdint>

// The one process-wide block; every field is zero until the stage that sets
// it has run, and no stage resets it.
struct RunStats {
  int32_t train_instances = 0;   // transactions of the mining part
  int32_t sig_at_level = 0;      // rules kept by validation
  int32_t rules_read = 0;        // mined rules read for validation
  int32_t sig_at_fdr = 0;        // kept rules accepted by the FDR step
  int32_t sig_at_corrected = 0;  // kept rules within the corrected level
};

extern RunStats run_stats;
