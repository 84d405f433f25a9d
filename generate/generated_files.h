// The three files of a generated data set: BASE.data, BASE.names and
// BASE.truth.json.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "generated_records.h"
#include "generator_model.h"

// Draws the records from `engine` and writes the three files, each under its
// name with ".partial" added first; they are renamed into place only when
// all three are complete, so a failure leaves earlier files of the same
// names as they were and no partial file behind. On failure prints the
// "Error: " lines and returns false.
bool write_generated_files(const GeneratorModel& model, uint64_t seed, std::mt19937_64& engine,
                           const std::string& base, GeneratedCounts& counts);
