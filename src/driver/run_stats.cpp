// The process-wide run state.
#include "driver/run_stats.h"

RunStats run_stats;
