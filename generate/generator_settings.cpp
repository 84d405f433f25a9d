// Reading and checking the generator's settings, so that nothing is written
// unless the whole model is sound.
#include "generator_settings.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <vector>

#include "common/json_input.h"
#include "common/record_fields.h"
#include "random_draws.h"
#include "safe_values.h"

namespace {

using nlohmann::json;

constexpr double kDefaultAdherence = 0.5;
constexpr int kDefaultProfiles = 4;

// Texts from the settings go into messages escaped, so that a line break or
// a control character cannot break the one-line message apart.
std::string escaped(const std::string& text) {
  return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string shown(const json& value) {
  std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
  return text.size() > 60 ? text.substr(0, 57) + "..." : text;
}

bool check_keys(const json& object, const std::string& path,
                const std::vector<std::string_view>& known, std::string& error) {
  if (!object.is_object()) {
    error = path + " must be an object {...}, not " + shown(object);
    return false;
  }
  for (const auto& [key, value] : object.items()) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      error = "unknown key " + escaped(key) + " in " + path;
      return false;
    }
  }
  return true;
}

// Every caller's range lies within 0 to 2^63 - 1.
bool read_whole(const json& value, const std::string& path, int64_t low, int64_t high,
                int64_t& number, std::string& error) {
  const bool fits =
      value.is_number_unsigned()
          ? value.get<uint64_t>() >= uint64_t(low) && value.get<uint64_t>() <= uint64_t(high)
          : value.is_number_integer() && value.get<int64_t>() >= low &&
                value.get<int64_t>() <= high;
  if (fits) {
    number = value.get<int64_t>();
    return true;
  }
  error = path + " must be a whole number from " + std::to_string(low) + " to " +
          std::to_string(high) + ", not " + shown(value);
  return false;
}

bool read_chance(const json& value, const std::string& path, double& chance, std::string& error) {
  if (value.is_number() && value.get<double>() >= 0.0 && value.get<double>() <= 1.0) {
    chance = value.get<double>();
    return true;
  }
  error = path + " must be a number from 0 to 1, not " + shown(value);
  return false;
}

// Chances that must sum to 1; they are divided by their sum.
bool read_chances(const json& value, const std::string& path, size_t count,
                  std::vector<double>& chances, std::string& error) {
  if (!value.is_array() || value.size() != count) {
    error = path + " must be a list of " + std::to_string(count) + " chances, not " + shown(value);
    return false;
  }
  chances.assign(count, 0.0);
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) {
    if (!read_chance(value[i], path + "[" + std::to_string(i) + "]", chances[i], error)) {
      return false;
    }
    sum += chances[i];
  }
  if (std::fabs(sum - 1.0) > kSumTolerance) {
    error = path + " must sum to 1, not " + json(sum).dump();
    return false;
  }
  for (double& chance : chances) chance /= sum;
  return true;
}

std::string text_fault(const std::string& text) {
  if (text.empty()) return "is empty";
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return "holds a line break or another control character";
  }
  if (text.find(',') != std::string::npos)
    return "holds ',', which separates the fields of a record";
  if (text.find('&') != std::string::npos) return "holds '&', which joins the items of a rule";
  return "";
}

bool check_value(const std::string& value, const std::string& path, std::string& error) {
  std::string fault = text_fault(value);
  if (fault.empty() && value[0] == ' ') fault = "begins with a blank, which the data reader drops";
  if (fault.empty() && is_missing_value(value)) fault = "reads as a missing value";
  if (fault.empty()) return true;
  error = path + " " + escaped(value) + " " + fault;
  return false;
}

bool check_name(const std::string& name, const std::string& path, std::string& error) {
  std::string fault = text_fault(name);
  if (fault.empty() && name.find('=') != std::string::npos) {
    fault = "holds '=', which ends the name in an item name=value";
  }
  if (!fault.empty()) {
    error = path + " " + escaped(name) + " " + fault;
    return false;
  }
  if (check_attribute_name(name, error)) return true;
  error = path + ": " + error;
  return false;
}

bool read_values(const json& value, const std::string& path, std::vector<std::string>& values,
                 std::string& error) {
  if (value.is_number()) {
    int64_t count = 0;
    if (!read_whole(value, path, 1, kMaxValues, count, error)) return false;
    for (int64_t v = 1; v <= count; ++v) values.push_back("v" + std::to_string(v));
    return true;
  }
  if (!value.is_array() || value.empty() || value.size() > size_t(kMaxValues) ||
      !std::all_of(value.begin(), value.end(), [](const json& v) { return v.is_string(); })) {
    error = path + " must be a count of values or a list of 1 to " + std::to_string(kMaxValues) +
            " texts, not " + shown(value);
    return false;
  }
  for (size_t v = 0; v < value.size(); ++v) {
    values.push_back(value[v].get<std::string>());
    if (!check_value(values.back(), path + "[" + std::to_string(v) + "]", error)) return false;
    if (std::count(values.begin(), values.end(), values.back()) > 1) {
      error = path + " holds " + escaped(values.back()) + " twice";
      return false;
    }
  }
  return true;
}

// The value chances of one attribute: given, from a skew, or drawn.
bool read_value_chances(const json& group, const std::string& path, size_t count,
                        std::mt19937_64& engine, std::vector<double>& chances, std::string& error) {
  if (group.contains("probabilities")) {
    if (group.contains("skew")) {
      error = path + " has both probabilities and skew; give one of them";
      return false;
    }
    return read_chances(group["probabilities"], path + ".probabilities", count, chances, error);
  }
  const json skew = group.value("skew", json(0));
  std::vector<double> weights(count);
  if (skew == "random") {
    for (double& weight : weights) weight = 1.0 + 3.0 * unit_draw(engine);
  } else if (skew.is_number() && skew.get<double>() >= 0.0 && skew.get<double>() <= 1e6) {
    for (size_t k = 0; k < count; ++k) weights[k] = 1.0 / (1.0 + skew.get<double>() * double(k));
  } else {
    error = path + ".skew must be a number from 0 to 1000000 or \"random\", not " + shown(skew);
    return false;
  }
  double sum = 0.0;
  for (const double weight : weights) sum += weight;
  chances.clear();
  for (const double weight : weights) chances.push_back(weight / sum);
  return true;
}

// One entry of "causal" or "noise": an attribute, or `count` of them.
bool read_attribute_group(const json& group, const std::string& path, AttributeRole role,
                          std::mt19937_64& engine, GeneratorModel& model, std::string& error) {
  const bool noise = role == AttributeRole::noise;
  std::vector<std::string_view> known = {"name", "count", "values", "probabilities", "skew"};
  if (noise) known.push_back("adherence");
  if (!check_keys(group, path, known, error)) return false;
  if (!group.contains("name") || !group["name"].is_string()) {
    error = path + ".name must be a text";
    return false;
  }
  if (!group.contains("values")) {
    error = path + ".values is missing";
    return false;
  }
  const std::string name = group["name"].get<std::string>();
  int64_t count = 1;
  const int64_t room = kMaxAttributes - static_cast<int64_t>(model.attributes.size());
  if (group.contains("count") &&
      !read_whole(group["count"], path + ".count", 1, room, count, error)) {
    error += " (at most " + std::to_string(kMaxAttributes) + " attributes in all)";
    return false;
  }
  GeneratedAttribute attribute;
  attribute.role = role;
  if (!read_values(group["values"], path + ".values", attribute.values, error)) return false;
  if (noise && group.contains("adherence") &&
      !read_chance(group["adherence"], path + ".adherence", attribute.adherence, error)) {
    return false;
  }
  if (noise && !group.contains("adherence")) attribute.adherence = kDefaultAdherence;
  for (int64_t i = 1; i <= count; ++i) {
    attribute.name = group.contains("count") ? name + std::to_string(i) : name;
    if (!check_name(attribute.name, path + ".name", error)) return false;
    for (const std::string& value : attribute.values) {
      if (!check_item_length(attribute.name, value, error)) return false;
    }
    if (!read_value_chances(group, path, attribute.values.size(), engine, attribute.probabilities,
                            error)) {
      return false;
    }
    model.attributes.push_back(attribute);
  }
  return true;
}

bool read_attribute_list(const json& settings, const char* key, AttributeRole role,
                         std::mt19937_64& engine, GeneratorModel& model, std::string& error) {
  if (!settings.contains(key)) return true;
  const json& list = settings[key];
  if (!list.is_array()) {
    error = std::string(key) + " must be a list of attributes [...], not " + shown(list);
    return false;
  }
  for (size_t g = 0; g < list.size(); ++g) {
    if (model.attributes.size() >= size_t(kMaxAttributes)) {
      error = "more than " + std::to_string(kMaxAttributes) + " attributes";
      return false;
    }
    const std::string path = std::string(key) + "[" + std::to_string(g) + "]";
    if (!read_attribute_group(list[g], path, role, engine, model, error)) return false;
  }
  return true;
}

bool read_profiles(const json& settings, std::mt19937_64& engine, GeneratorModel& model,
                   std::string& error) {
  const json profiles = settings.value("profiles", json(kDefaultProfiles));
  if (profiles.is_array()) {
    if (profiles.empty() || profiles.size() > size_t(kMaxProfiles)) {
      error = "profiles must list 1 to " + std::to_string(kMaxProfiles) + " chances";
      return false;
    }
    if (!read_chances(profiles, "profiles", profiles.size(), model.profile_probabilities, error)) {
      return false;
    }
  } else {
    int64_t count = 0;
    if (!read_whole(profiles, "profiles", 1, kMaxProfiles, count, error)) return false;
    model.profile_probabilities.assign(count, 1.0 / double(count));
  }
  for (GeneratedAttribute& attribute : model.attributes) {
    if (attribute.role != AttributeRole::noise) continue;
    const std::vector<double> equal =
        cumulative_of(std::vector<double>(attribute.values.size(), 1.0));
    for (size_t z = 0; z < model.profile_probabilities.size(); ++z) {
      attribute.preferred.push_back(pick_index(engine, equal));
    }
  }
  return true;
}

bool read_planted_item(const json& text, const std::string& path, const GeneratorModel& model,
                       PlantedItem& item, std::string& error) {
  const std::string item_text = text.is_string() ? text.get<std::string>() : "";
  const size_t equals = item_text.find('=');
  if (equals == std::string::npos) {
    error = path + " must be an item \"attribute=value\", not " + shown(text);
    return false;
  }
  const std::string name = item_text.substr(0, equals);
  const std::string value = item_text.substr(equals + 1);
  for (size_t a = 0; a < model.attributes.size(); ++a) {
    const GeneratedAttribute& attribute = model.attributes[a];
    if (attribute.name != name) continue;
    const auto found = std::find(attribute.values.begin(), attribute.values.end(), value);
    if (attribute.role != AttributeRole::causal) {
      error = path + " " + escaped(item_text) + " is an item of a noise attribute";
    } else if (found == attribute.values.end()) {
      error = path + " " + escaped(item_text) + ": attribute " + escaped(name) + " has no value " +
              escaped(value);
    } else {
      item = {static_cast<int>(a), static_cast<int>(found - attribute.values.begin())};
      return true;
    }
    return false;
  }
  error = path + " " + escaped(item_text) + ": there is no attribute " + escaped(name);
  return false;
}

bool read_planted_rule(const json& entry, const std::string& path, const GeneratorModel& model,
                       PlantedRule& rule, std::string& error) {
  if (!check_keys(entry, path, {"items", "rate"}, error)) return false;
  if (!entry.contains("items") || !entry["items"].is_array() || entry["items"].empty()) {
    error = path + ".items must be a list of one or more items \"attribute=value\"";
    return false;
  }
  if (!entry.contains("rate")) {
    error = path + ".rate is missing";
    return false;
  }
  if (!read_chance(entry["rate"], path + ".rate", rule.rate, error)) return false;
  std::set<int> attributes;
  for (size_t i = 0; i < entry["items"].size(); ++i) {
    PlantedItem item;
    const std::string item_path = path + ".items[" + std::to_string(i) + "]";
    if (!read_planted_item(entry["items"][i], item_path, model, item, error)) return false;
    if (!attributes.insert(item.attribute).second) {
      error = item_path + ": the rule already has an item of attribute " +
              escaped(model.attributes[item.attribute].name);
      return false;
    }
    rule.items.push_back(item);
  }
  std::sort(rule.items.begin(), rule.items.end(),
            [](const PlantedItem& a, const PlantedItem& b) { return a.attribute < b.attribute; });
  return true;
}

bool same_items(const PlantedRule& a, const PlantedRule& b) {
  return std::equal(a.items.begin(), a.items.end(), b.items.begin(), b.items.end(),
                    [](const PlantedItem& x, const PlantedItem& y) {
                      return x.attribute == y.attribute && x.value == y.value;
                    });
}

bool read_planted(const json& settings, GeneratorModel& model, std::string& error) {
  const json list = settings.value("planted", json::array());
  if (!list.is_array() || list.size() > size_t(kMaxPlantedRules)) {
    error = "planted must be a list of at most " + std::to_string(kMaxPlantedRules) +
            " rules, not " + shown(list);
    return false;
  }
  for (size_t r = 0; r < list.size(); ++r) {
    const std::string path = "planted[" + std::to_string(r) + "]";
    PlantedRule rule;
    if (!read_planted_rule(list[r], path, model, rule, error)) return false;
    for (size_t earlier = 0; earlier < model.planted.size(); ++earlier) {
      if (same_items(model.planted[earlier], rule)) {
        error = path + " has the items of planted[" + std::to_string(earlier) + "]";
        return false;
      }
    }
    model.planted.push_back(rule);
  }
  if (marginalisation_size(model) > kMaxMarginalisation) {
    error =
        "the planted rules name too many attribute values: their exact class rates would "
        "sum over more than " +
        std::to_string(static_cast<int64_t>(kMaxMarginalisation)) + " combinations";
    return false;
  }
  return true;
}

bool read_head(const json& settings, GeneratorModel& model, std::string& error) {
  if (!check_keys(settings, "the settings",
                  {"records", "base_rate", "class", "causal", "noise", "profiles", "planted"},
                  error)) {
    return false;
  }
  for (const char* key : {"records", "base_rate"}) {
    if (!settings.contains(key)) {
      error = std::string(key) + " is missing";
      return false;
    }
  }
  const json class_name = settings.value("class", json("class"));
  if (!class_name.is_string()) {
    error = "class must be a text, not " + shown(class_name);
    return false;
  }
  model.class_name = class_name.get<std::string>();
  return read_whole(settings["records"], "records", 1, kMaxRecords, model.records, error) &&
         read_chance(settings["base_rate"], "base_rate", model.base_rate, error) &&
         check_name(model.class_name, "class", error);
}

bool check_table(const GeneratorModel& model, std::string& error) {
  std::set<std::string> names{model.class_name};
  for (const GeneratedAttribute& attribute : model.attributes) {
    if (!names.insert(attribute.name).second) {
      error = "two attributes are named " + escaped(attribute.name);
      return false;
    }
  }
  if (model.attributes.empty()) {
    error = "there is no attribute besides the class: give causal or noise attributes";
    return false;
  }
  const int64_t columns = static_cast<int64_t>(model.attributes.size()) + 1;
  if (model.records > kMaxValuesWritten / columns) {
    error = "records times columns (the class included) must be at most " +
            std::to_string(kMaxValuesWritten) + ", not " + std::to_string(model.records) +
            " times " + std::to_string(columns);
    return false;
  }
  return true;
}

}  // namespace

bool read_generator_settings(const std::string& text, std::mt19937_64& engine,
                             GeneratorModel& model, std::string& error) {
  json settings;
  if (!parse_json_input(text, settings, error)) return false;
  return read_head(settings, model, error) &&
         read_attribute_list(settings, "causal", AttributeRole::causal, engine, model, error) &&
         read_attribute_list(settings, "noise", AttributeRole::noise, engine, model, error) &&
         check_table(model, error) && read_profiles(settings, engine, model, error) &&
         read_planted(settings, model, error);
}
