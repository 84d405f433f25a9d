// The process-wide run state and the log-factorial table.
#include "driver/run_stats.h"

#include <cmath>

RunStats run_stats;

LogFactorialTable build_log_factorial_table(int n) {
  if (n < 0) n = 0;
  LogFactorialTable table(static_cast<size_t>(n) + 1, 0.0);
  for (int i = 2; i <= n; ++i) table[i] = table[i - 1] + std::log10(static_cast<double>(i));
  return table;
}
