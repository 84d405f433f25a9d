// The command line and the frame of one experiment.
#pragma once

#include <string>

#include "driver/experiment_record.h"

// Reads the options and the six arguments and runs one experiment; returns
// the exit status: 0 for an experiment without errors, 1 for one that
// reported an "Error: " line through report_error (it adds no summary line;
// a miner that fails is always reported so), -1 for arguments that were not
// accepted.
int varnel_main(int argc, char** argv);

// Splits the dataset, mines and validates, and prints the report, filling
// `record` (whose arguments and seed are set) on the way. Returns the summary
// line for "Varnel.sum.txt", which the caller appends only when nothing
// failed.
std::string run_experiment(ExperimentRecord& record);
