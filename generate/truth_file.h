// The truth file "BASE.truth.json" of a generated data set: the model it was
// drawn from, enough to compute the true class rate of any rule. Its keys:
// "generator", "seed", "records", "class" ({"name", "positive": "1",
// "negative": "0"}), "base_rate", "overlap" ("highest": where several planted
// rules hold, the highest rate applies), "class_rate" (the chance of the
// class over all records), "profiles" (the chances of the noise attributes'
// latent profiles), "attributes" (in column order after the class: "name",
// "role" causal or noise, "values", "probabilities" of each value; for noise
// also "adherence", "preferred" (the value each profile prefers) and
// "background" (the chances of a record that does not take it)) and
// "planted" (each {"items": ["attribute=value", ...], "rate", "effective"},
// and when "effective" is false, "why": "shadowed" (wherever it holds,
// another planted rule sets the rate), "base_rate" (its rate is the base
// rate) or "never_holds" (an item has chance 0); see planted_rule_effects).
#pragma once

#include <cstdint>
#include <string>

#include "generator_model.h"

std::string truth_file_text(const GeneratorModel& model, uint64_t seed);
