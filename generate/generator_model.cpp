// The class rates of the generating model: per record, overall by exact
// marginalisation, and which planted rules ever set them.
#include "generator_model.h"

#include <algorithm>
#include <set>

namespace {

struct Bucket {
  int value = -1;  // -1: every value no planted rule names
  double probability = 0.0;
};

// Per attribute that a planted rule names, its named values one by one and
// the rest together: the class rate cannot tell the rest apart.
std::vector<std::pair<int, std::vector<Bucket>>> rate_buckets(const GeneratorModel& model) {
  std::vector<std::vector<bool>> named(model.attributes.size());
  for (const PlantedRule& rule : model.planted) {
    for (const PlantedItem& item : rule.items) {
      auto& flags = named[item.attribute];
      flags.resize(model.attributes[item.attribute].values.size(), false);
      flags[item.value] = true;
    }
  }
  std::vector<std::pair<int, std::vector<Bucket>>> buckets;
  for (size_t a = 0; a < named.size(); ++a) {
    if (named[a].empty()) continue;
    std::vector<Bucket> list;
    Bucket rest;
    const std::vector<double>& probabilities = model.attributes[a].probabilities;
    for (size_t v = 0; v < probabilities.size(); ++v) {
      if (named[a][v])
        list.push_back({static_cast<int>(v), probabilities[v]});
      else
        rest.probability += probabilities[v];
    }
    if (rest.probability > 0.0) list.push_back(rest);
    buckets.emplace_back(static_cast<int>(a), list);
  }
  return buckets;
}

bool rule_holds(const PlantedRule& rule, const std::vector<int>& values) {
  return std::all_of(rule.items.begin(), rule.items.end(),
                     [&](const PlantedItem& item) { return values[item.attribute] == item.value; });
}

// Calls visit(values, chance) for every combination of the buckets: values
// holds a value index for each attribute a planted rule names (-1 for the
// rest, and for every other attribute).
template <typename Visit>
void for_each_combination(const GeneratorModel& model, Visit visit) {
  const auto buckets = rate_buckets(model);
  std::vector<int> values(model.attributes.size(), -1);
  std::vector<size_t> at(buckets.size(), 0);
  // An odometer over the buckets' combinations.
  while (true) {
    double probability = 1.0;
    for (size_t b = 0; b < buckets.size(); ++b) {
      const Bucket& bucket = buckets[b].second[at[b]];
      values[buckets[b].first] = bucket.value;
      probability *= bucket.probability;
    }
    visit(values, probability);
    size_t b = 0;
    while (b < buckets.size() && ++at[b] == buckets[b].second.size()) at[b++] = 0;
    if (b == buckets.size()) break;
  }
}

}  // namespace

std::string planted_item_text(const GeneratorModel& model, const PlantedItem& item) {
  const GeneratedAttribute& attribute = model.attributes[item.attribute];
  return attribute.name + "=" + attribute.values[item.value];
}

double class_rate_at(const GeneratorModel& model, const std::vector<int>& values) {
  bool any = false;
  double rate = model.base_rate;
  for (const PlantedRule& rule : model.planted) {
    if (rule_holds(rule, values)) {
      rate = any ? std::max(rate, rule.rate) : rule.rate;
      any = true;
    }
  }
  return rate;
}

double marginalisation_size(const GeneratorModel& model) {
  double size = 1.0;
  for (const auto& [attribute, list] : rate_buckets(model))
    size *= static_cast<double>(list.size());
  return size;
}

double overall_class_rate(const GeneratorModel& model) {
  double mass = 0.0, in_class = 0.0;
  for_each_combination(model, [&](const std::vector<int>& values, double probability) {
    mass += probability;
    in_class += probability * class_rate_at(model, values);
  });
  // Dividing by the summed chances keeps rounding from pushing the rate off.
  return in_class / mass;
}

std::vector<PlantedRuleEffect> planted_rule_effects(const GeneratorModel& model) {
  const size_t count = model.planted.size();
  std::vector<bool> holds(count, false), sets(count, false);
  std::vector<std::set<int>> setters(count);
  std::vector<int> holding;
  for_each_combination(model, [&](const std::vector<int>& values, double probability) {
    if (probability <= 0.0) return;
    holding.clear();
    int setter = -1;
    for (size_t r = 0; r < count; ++r) {
      const PlantedRule& rule = model.planted[r];
      if (!rule_holds(rule, values)) continue;
      holding.push_back(static_cast<int>(r));
      if (setter < 0 || rule.rate > model.planted[setter].rate ||
          (rule.rate == model.planted[setter].rate &&
           rule.items.size() < model.planted[setter].items.size()))
        setter = static_cast<int>(r);
    }
    if (setter >= 0) sets[setter] = true;
    for (const int r : holding) {
      holds[r] = true;
      if (r != setter) setters[r].insert(setter);
    }
  });
  std::vector<PlantedRuleEffect> effects(count);
  for (size_t r = 0; r < count; ++r) {
    if (!holds[r]) {
      effects[r].effect = PlantedEffect::never_holds;
    } else if (model.planted[r].rate == model.base_rate) {
      effects[r].effect = PlantedEffect::base_rate;
    } else if (!sets[r]) {
      effects[r] = {PlantedEffect::shadowed, {setters[r].begin(), setters[r].end()}};
    }
  }
  return effects;
}

std::vector<double> noise_value_probabilities(const GeneratorModel& model,
                                              const GeneratedAttribute& attribute) {
  std::vector<double> result(attribute.values.size(), 0.0);
  for (size_t z = 0; z < model.profile_probabilities.size(); ++z) {
    for (size_t v = 0; v < result.size(); ++v) {
      const double preferred = attribute.preferred[z] == static_cast<int>(v) ? 1.0 : 0.0;
      result[v] += model.profile_probabilities[z] *
                   (attribute.adherence * preferred +
                    (1.0 - attribute.adherence) * attribute.probabilities[v]);
    }
  }
  return result;
}
