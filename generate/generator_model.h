// The model a generated data set is drawn from, and the class rates it
// implies: causal attributes that set the class through planted rules, noise
// attributes that follow latent profiles but are independent of the class
// and of every causal attribute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class AttributeRole { causal, noise };

struct GeneratedAttribute {
  std::string name;
  AttributeRole role = AttributeRole::causal;
  std::vector<std::string> values;
  // Causal: the chance of each value. Noise: the chance of each value for a
  // record that does not take its profile's preferred value.
  std::vector<double> probabilities;
  double adherence = 0.0;      // noise: chance of taking the profile's preferred value
  std::vector<int> preferred;  // noise: the preferred value of each profile
};

struct PlantedItem {
  int attribute = 0;  // index into GeneratorModel::attributes (a causal one)
  int value = 0;      // index into that attribute's values
};

struct PlantedRule {
  std::vector<PlantedItem> items;  // a conjunction, at most one item per attribute
  double rate = 0.0;               // the class rate where it holds
};

struct GeneratorModel {
  int64_t records = 0;
  std::string class_name;
  double base_rate = 0.0;  // the class rate where no planted rule holds
  // Causal attributes first, then noise ones: the column order after the class.
  std::vector<GeneratedAttribute> attributes;
  std::vector<double> profile_probabilities;  // of the noise attributes' latent profiles
  std::vector<PlantedRule> planted;
};

// The item as the data and the rule table write it: "attribute=value".
std::string planted_item_text(const GeneratorModel& model, const PlantedItem& item);

// Where several planted rules hold, the highest of their rates applies.
inline constexpr const char* kOverlapRule = "highest";

// The class rate of a record with `values` (one value index per attribute;
// -1 matches no item): the highest rate of the planted rules that hold, or
// the base rate when none does.
double class_rate_at(const GeneratorModel& model, const std::vector<int>& values);

// How many value combinations overall_class_rate sums over: the product,
// over the attributes that planted rules name, of the values they name plus
// one for all the others.
double marginalisation_size(const GeneratorModel& model);

// The chance that a record is in the class, summed exactly over the
// combinations of the causal attributes the planted rules name.
double overall_class_rate(const GeneratorModel& model);

// Whether a planted rule is an effect of its own. Where several planted
// rules hold, the one that sets the rate is the one of the highest rate (of
// several at that rate, the one with the fewest items, then the first).
enum class PlantedEffect {
  effective,    // it sets the class rate of some records, at a rate other than the base rate
  never_holds,  // one of its items has chance 0
  base_rate,    // its rate is the base rate: it changes nothing by itself
  shadowed,     // wherever it holds, another planted rule sets the rate
};

struct PlantedRuleEffect {
  PlantedEffect effect = PlantedEffect::effective;
  std::vector<int> setters;  // shadowed: the planted rules that set the rate where it holds
};

// Per planted rule, in the model's order, whether it is an effect of its own.
std::vector<PlantedRuleEffect> planted_rule_effects(const GeneratorModel& model);

// The chance of each value of a noise attribute over all profiles.
std::vector<double> noise_value_probabilities(const GeneratorModel& model,
                                              const GeneratedAttribute& attribute);
