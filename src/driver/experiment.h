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
  bool succeeded = false;        // no error, and the record was written
};

// Runs one experiment in the working directory: takes the directory's lock,
// splits the dataset, mines and validates, prints the report, appends the
// summary line and writes the experiment record. Stops at the first stage
// that fails; a failed experiment appends no summary line and ends with
// "Error: the experiment failed; no summary line was written" (reported to
// the caller's log, after the record is written). The options must have
// passed the command line's checks (min_sup >= 1, 0 < max_pvalue <= 1).
ExperimentResult run_experiment(const ExperimentOptions& options);

// The command: reads the options and the six arguments and runs one
// experiment; returns the exit status: 0 for an experiment without errors, 1
// for one that failed, -1 for arguments that were not accepted.
int varnel_main(int argc, char** argv);
