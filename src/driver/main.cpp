// Entry point of varnel, the experiment driver.
#include "driver/experiment.h"

int main(int argc, char** argv) { return varnel_main(argc, argv); }
