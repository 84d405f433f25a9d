// Writing the truth file through the JSON library, keys in a fixed order so
// that the same model gives the same bytes.
#include "truth_file.h"

#include <nlohmann/json.hpp>

namespace {

using nlohmann::ordered_json;

ordered_json attribute_json(const GeneratorModel& model, const GeneratedAttribute& attribute) {
  const bool noise = attribute.role == AttributeRole::noise;
  ordered_json entry = {{"name", attribute.name},
                        {"role", noise ? "noise" : "causal"},
                        {"values", attribute.values},
                        {"probabilities", noise ? noise_value_probabilities(model, attribute)
                                                : attribute.probabilities}};
  if (noise) {
    ordered_json preferred = ordered_json::array();
    for (const int value : attribute.preferred) preferred.push_back(attribute.values[value]);
    entry["adherence"] = attribute.adherence;
    entry["preferred"] = preferred;
    entry["background"] = attribute.probabilities;
  }
  return entry;
}

// The file's word for why a planted rule is no effect of its own.
const char* ineffective_reason(PlantedEffect effect) {
  switch (effect) {
    case PlantedEffect::never_holds:
      return "never_holds";
    case PlantedEffect::base_rate:
      return "base_rate";
    case PlantedEffect::shadowed:
      return "shadowed";
    case PlantedEffect::effective:
      break;
  }
  return "";
}

}  // namespace

std::string truth_file_text(const GeneratorModel& model, uint64_t seed) {
  ordered_json attributes = ordered_json::array();
  for (const GeneratedAttribute& attribute : model.attributes) {
    attributes.push_back(attribute_json(model, attribute));
  }
  ordered_json planted = ordered_json::array();
  const std::vector<PlantedRuleEffect> effects = planted_rule_effects(model);
  for (size_t r = 0; r < model.planted.size(); ++r) {
    const PlantedRule& rule = model.planted[r];
    ordered_json items = ordered_json::array();
    for (const PlantedItem& item : rule.items) items.push_back(planted_item_text(model, item));
    ordered_json entry = {{"items", items},
                          {"rate", rule.rate},
                          {"effective", effects[r].effect == PlantedEffect::effective}};
    if (effects[r].effect != PlantedEffect::effective)
      entry["why"] = ineffective_reason(effects[r].effect);
    planted.push_back(entry);
  }
  const ordered_json truth = {
      {"generator", "varnel-generate"},
      {"seed", seed},
      {"records", model.records},
      {"class", {{"name", model.class_name}, {"positive", "1"}, {"negative", "0"}}},
      {"base_rate", model.base_rate},
      {"overlap", kOverlapRule},
      {"class_rate", overall_class_rate(model)},
      {"profiles", model.profile_probabilities},
      {"attributes", attributes},
      {"planted", planted}};
  return truth.dump(2) + "\n";
}
