// The settings of varnel-generate, a JSON object, read into the model they
// describe. Keys (values in brackets are defaults):
//   records    whole number of records, 1 to kMaxRecords
//   base_rate  the class rate where no planted rule holds, 0 to 1
//   class      name of the class attribute ["class"]
//   causal     list of attribute groups, see below [none]
//   noise      list of attribute groups, see below [none]
//   profiles   the noise attributes' latent profiles: a count (equally
//              likely) or a list of their chances [4]
//   planted    list of {"items": ["attr=value", ...], "rate": R}: where
//              every item holds, the class rate is R [none: the null setting]
// An attribute group is {"name": N, "values": K or [texts], and at most one
// of "probabilities": [p, ...] or "skew": S or "random"}, with "count": C
// for C attributes named N1 .. NC, and for noise "adherence": A [0.5], the
// chance that a record takes its profile's preferred value. K values are
// named v1 .. vK. Skew S gives value k the weight 1 / (1 + S (k - 1))
// (0, the default, is uniform); "random" draws each weight from [1, 4).
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "generator_model.h"

inline constexpr int64_t kMaxRecords = 10'000'000;
inline constexpr int kMaxAttributes = 1000;  // columns besides the class
inline constexpr int kMaxValues = 1000;      // per attribute
inline constexpr int kMaxProfiles = 1000;
inline constexpr int kMaxPlantedRules = 1000;
// Records times columns: a data file of a few gigabytes at most.
inline constexpr int64_t kMaxValuesWritten = 1'000'000'000;
// Beyond this, the exact class rates would take too long to sum.
inline constexpr double kMaxMarginalisation = 1e6;
// How far given chances may sum from 1 (they are divided by their sum).
inline constexpr double kSumTolerance = 1e-9;

// Reads `text` into `model`. Returns false with `error` set, naming the key,
// for text that is not JSON or that parse_json_input refuses (nested too
// deep, a number out of range, a key given twice), an unknown, missing or
// mistyped key, an absurd count, a chance or rate outside [0, 1], chances
// that do not sum to 1, a name or value that the data files or the rule
// table cannot carry or that repeats, and a planted item that is not an
// item of a causal attribute.
// The random parts (skew "random", the profiles' preferred values) are drawn
// from `engine` in the order of the settings.
bool read_generator_settings(const std::string& text, std::mt19937_64& engine,
                             GeneratorModel& model, std::string& error);
