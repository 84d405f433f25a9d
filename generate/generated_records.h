// Drawing the records of a generated data set, one after the other from one
// engine, so that a smaller data set is the beginning of a larger one drawn
// with the same seed and settings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "generator_model.h"

struct GeneratedCounts {
  int64_t records = 0;
  int64_t in_class = 0;
};

// Draws model.records records one after the other and hands each to
// `take(in_class, values)`, `values` holding one value index per attribute
// in the model's order; stops early when `take` returns false. Per record
// the draws are: the latent profile, each causal value, each noise value
// (its adherence, then, when it does not adhere, its value), the class.
using RecordTaker = std::function<bool(bool in_class, const std::vector<int>& values)>;
void draw_records(const GeneratorModel& model, std::mt19937_64& engine, GeneratedCounts& counts,
                  const RecordTaker& take);

// Draws the records and writes them to `file` as lines of the data file:
// the class first (1 or 0, so that varnel's split is stratified by it),
// then the attributes' values in the model's order. Returns false when a
// write fails.
bool write_records(std::FILE* file, const GeneratorModel& model, std::mt19937_64& engine,
                   GeneratedCounts& counts);
