// varnel-generate as a whole: options, settings, drawing and writing, and
// the console report.
#pragma once

// Runs the command; returns its exit status: 0 on success (also for
// --help), 2 for a usage error, 1 when the settings are unsound or a file
// cannot be read or written. Every failure prints "Error: " lines on
// standard output and leaves the output files as they were.
int run_generate(int argc, const char* const* argv);
