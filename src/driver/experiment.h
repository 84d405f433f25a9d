// The command line and the frame of one experiment.
#pragma once

#include <string>

// Checks the arguments and runs one experiment; returns the exit status.
int varnel_main(int argc, char** argv);

// Splits the dataset, mines and validates, reports and appends the summary
// line to "Varnel.sum.txt".
void run_experiment(const std::string& dataset_name, const std::string& target_attr,
                    const std::string& target_value, int min_sup,
                    const std::string& output_name, double max_pvalue, double min_diff);
