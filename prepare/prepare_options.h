// The command line of varnel-prepare.
#pragma once

#include <string>

#include "prepared_table.h"

enum class InputFormat { arff, csv };

struct PrepareOptions {
  PrepareSettings settings;
  InputFormat format = InputFormat::arff;
  std::string input;
  std::string output_base;
  bool help = false;
};

// The usage text, ending with a line feed.
std::string prepare_usage();

// Reads `argv` (argv[0] is the program). Returns false with `error` set for
// an unknown option, a missing or extra argument, a bin count that is not a
// whole number from 2 to 1000, --bins together with --drop-numeric, or an
// input whose format is neither given nor told by its extension. With
// --help, returns true with `help` set and the rest unchecked.
bool parse_prepare_options(int argc, const char* const* argv, PrepareOptions& options,
                           std::string& error);
