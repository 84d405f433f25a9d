// varnel-prepare as a whole: options, reading, preparing, writing and the
// console report.
#pragma once

#include <cstddef>
#include <optional>

#include "prepare_options.h"
#include "prepared_table.h"
#include "raw_dataset.h"

// An input read and prepared, before anything is written.
struct PreparedInput {
  size_t records_read = 0;
  size_t attributes_read = 0;
  PreparedTable table;
};

// Reads options.input in its format and prepares the table the .data and
// .names files of options.output_base would hold. Every failure gets its one
// "Error: " line and nothing is returned; the table's warnings get a
// "Warning: " line each. Nothing is written.
std::optional<PreparedInput> prepare_input(const PrepareOptions& options);

// A data set already in memory (built from a data frame, say) prepared as
// prepare_input prepares one it read: the same "Error: " line, with `source`
// in place of the file's name, and the same "Warning: " lines.
std::optional<PreparedTable> prepare_dataset(const RawDataset& dataset,
                                             const PrepareSettings& settings,
                                             const std::string& source);

// Runs the command; returns its exit status: 0 on success (also for
// --help), 2 for a usage error, 1 when the input cannot be prepared. Every
// failure prints one "Error: " line on standard output and writes nothing.
int run_prepare(int argc, const char* const* argv);
