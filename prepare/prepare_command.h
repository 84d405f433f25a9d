// varnel-prepare as a whole: options, reading, preparing, writing and the
// console report.
#pragma once

// Runs the command; returns its exit status: 0 on success (also for
// --help), 2 for a usage error, 1 when the input cannot be prepared. Every
// failure prints one "Error: " line on standard output and writes nothing.
int run_prepare(int argc, const char* const* argv);
