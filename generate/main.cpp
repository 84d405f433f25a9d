// Entry point of varnel-generate, which draws a data set with a known truth
// from a model: planted rules set the class, noise attributes do not.
#include "generate_command.h"

int main(int argc, char** argv) { return run_generate(argc, argv); }
