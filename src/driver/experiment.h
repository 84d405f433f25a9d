// One holdout experiment as a library call, and the varnel command around it.
#pragma once

#include <string>

#include "driver/experiment_options.h"
#include "driver/experiment_record.h"

struct ExperimentResult {
  // What was run and what came of it, as written to the experiment record;
  // record.reported holds the experiment's own "Error: " and "Warning: "
  // lines, and any error means the experiment failed.
  ExperimentRecord record;
  bool summary_written = false;  // its line was appended to "Varnel.sum.txt"
  bool succeeded = false;        // no error, the record and the line written
  // SIGINT, SIGTERM or SIGHUP when one stopped the experiment while the
  // miner ran (the miner got it too); the caller should end as it asks.
  int stop_signal = 0;
};

// Runs one experiment in the working directory: takes the directory's lock
// and the split parts' lock (experiment_locks.h), splits the dataset, mines
// and validates, prints the report, writes the experiment record and then
// appends the summary line, the last thing it commits. Stops at the first
// stage that fails; a failed experiment appends no summary line and ends with
// "Error: the experiment failed; no summary line was written" (reported to
// the caller's log, after the record is written). The options must have
// passed the command line's checks (min_sup >= 1, kMinLevel <= max_pvalue
// <= 1, a non-empty output name).
ExperimentResult run_experiment(const ExperimentOptions& options);

// The command: reads the options and the six arguments and runs one
// experiment; returns the exit status: 0 for an experiment without errors, 1
// for one that failed, -1 for arguments that were not accepted. An
// experiment stopped by a signal ends the process by that signal.
int varnel_main(int argc, char** argv);
