// The class rates of the generating model: per record, and overall by exact
// marginalisation.
#include "generator_model.h"

#include <algorithm>

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

}  // namespace

double class_rate_at(const GeneratorModel& model, const std::vector<int>& values) {
  bool any = false;
  double rate = model.base_rate;
  for (const PlantedRule& rule : model.planted) {
    const bool holds = std::all_of(rule.items.begin(), rule.items.end(), [&](const PlantedItem& i) {
      return values[i.attribute] == i.value;
    });
    if (holds) {
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
  const auto buckets = rate_buckets(model);
  std::vector<int> values(model.attributes.size(), -1);
  std::vector<size_t> at(buckets.size(), 0);
  double mass = 0.0, in_class = 0.0;
  // An odometer over the buckets' combinations.
  while (true) {
    double probability = 1.0;
    for (size_t b = 0; b < buckets.size(); ++b) {
      const Bucket& bucket = buckets[b].second[at[b]];
      values[buckets[b].first] = bucket.value;
      probability *= bucket.probability;
    }
    mass += probability;
    in_class += probability * class_rate_at(model, values);
    size_t b = 0;
    while (b < buckets.size() && ++at[b] == buckets[b].second.size()) at[b++] = 0;
    if (b == buckets.size()) break;
  }
  // Dividing by the summed chances keeps rounding from pushing the rate off.
  return in_class / mass;
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
