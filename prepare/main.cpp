// Entry point of varnel-prepare, which turns ARFF or CSV data into the
// .data and .names files that varnel reads.
#include "prepare_command.h"

int main(int argc, char** argv) { return run_prepare(argc, argv); }
