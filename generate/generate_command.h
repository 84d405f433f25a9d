// varnel-generate as a whole: options, settings, drawing and writing, and
// the console report.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "generated_records.h"
#include "generator_model.h"

struct GenerateOptions {
  uint64_t seed = 0;
  std::string settings;     // the JSON settings file
  std::string output_base;  // writes <base>.data, <base>.names, <base>.truth.json
  bool help = false;
};

// A data set drawn and written: the model the settings describe and what
// was drawn from it.
struct GeneratedDataSet {
  GeneratorModel model;
  GeneratedCounts counts;
};

// The model that settings given as JSON `text` describe, with `engine`
// past the settings' own random draws, ready to draw the records. Unsound
// settings get one "Error: <source>: ..." line and nothing is returned.
std::optional<GeneratorModel> read_model(const std::string& text, const std::string& source,
                                         std::mt19937_64& engine);

// Reads the settings, draws the data set from options.seed and writes its
// three files. A planted rule that is no effect of its own gets a "Warning: "
// line (and its mark in the truth file). Every failure gets "Error: " lines
// and leaves the files as they were; nothing is returned then.
std::optional<GeneratedDataSet> generate_data_set(const GenerateOptions& options);

// Runs the command; returns its exit status: 0 on success (also for
// --help), 2 for a usage error, 1 when the settings are unsound or a file
// cannot be read or written. Every failure prints "Error: " lines on
// standard output and leaves the output files as they were.
int run_generate(int argc, const char* const* argv);
