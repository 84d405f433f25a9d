// The steps of varnel-generate in order, and what it tells the user.
#include "generate_command.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "common/run_files.h"
#include "generated_files.h"
#include "generator_settings.h"

namespace {

// Settings are a few lines; a larger file is not one.
constexpr std::uintmax_t kMaxSettingsBytes = 10 * 1024 * 1024;

std::string generate_usage() {
  return "Usage: varnel-generate [--seed N] SETTINGS OUTPUT_BASE\n"
         "Draws a data set with a known truth from the model the JSON file SETTINGS\n"
         "describes, and writes OUTPUT_BASE.data, OUTPUT_BASE.names and\n"
         "OUTPUT_BASE.truth.json.\n"
         "  --seed N  the seed, a whole number from 0 to 18446744073709551615 (default 0);\n"
         "            the same seed and settings give the same files on any machine\n"
         "  --help    show this text\n";
}

bool parse_seed(std::string_view text, uint64_t& seed) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, seed);
  return !text.empty() && failure == std::errc() && stop == end;
}

bool parse_generate_options(int argc, const char* const* argv, GenerateOptions& options,
                            std::string& error) {
  std::vector<std::string> positional;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
      return true;
    } else if (arg == "--seed" || arg.starts_with("--seed=")) {
      if (arg == "--seed" && i + 1 >= argc) {
        error = "--seed needs a value";
        return false;
      }
      const std::string value = arg == "--seed" ? argv[++i] : arg.substr(7);
      if (!parse_seed(value, options.seed)) {
        error =
            "the seed must be a whole number from 0 to 18446744073709551615, not '" + value + "'";
        return false;
      }
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (positional.size() != 2) {
    error = "expected SETTINGS and OUTPUT_BASE, got " + std::to_string(positional.size()) +
            " arguments";
    return false;
  }
  options.settings = positional[0];
  options.output_base = positional[1];
  if (options.output_base.empty() || options.output_base.back() == '/') {
    error = "OUTPUT_BASE must name the files to write, not a folder: '" + options.output_base + "'";
    return false;
  }
  return true;
}

bool read_settings_text(const std::string& path, std::string& text, std::string& error) {
  std::error_code failure;
  const std::uintmax_t size = std::filesystem::file_size(path, failure);
  std::ifstream in(path, std::ios::binary);
  if (failure || !in) {
    error = "cannot open file " + path + " for read";
    return false;
  }
  if (size > kMaxSettingsBytes) {
    error = path + " is larger than 10 MB, too large for a settings file";
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return true;
}

// Writing the outputs must not replace the settings they come from.
bool check_outputs_apart(const GenerateOptions& options, std::string& error) {
  for (const std::string& output : {data_file(options.output_base), names_file(options.output_base),
                                    options.output_base + ".truth.json"}) {
    std::error_code ignored;
    if (std::filesystem::equivalent(options.settings, output, ignored)) {
      error = "writing " + output + " would replace the settings file " + options.settings;
      return false;
    }
  }
  return true;
}

// A planted rule as the settings' error lines name it.
std::string planted_name(size_t r) { return "planted[" + std::to_string(r) + "]"; }

// A planted rule that is no effect of its own counts for no power in a truth
// study; the settings probably did not mean it. A line names at most
// kSettersNamed of the rules that shadow it.
constexpr size_t kSettersNamed = 3;

void warn_of_ineffective_rules(const std::string& settings, const GeneratorModel& model) {
  const std::vector<PlantedRuleEffect> effects = planted_rule_effects(model);
  for (size_t r = 0; r < effects.size(); ++r) {
    const PlantedRule& rule = model.planted[r];
    const std::vector<int>& setters = effects[r].setters;
    std::string items;
    for (const PlantedItem& item : rule.items) {
      items += (items.empty() ? "" : " & ") + planted_item_text(model, item);
    }
    std::string why;
    switch (effects[r].effect) {
      case PlantedEffect::effective:
        continue;
      case PlantedEffect::never_holds:
        why = "can never hold: one of its items has chance 0";
        break;
      case PlantedEffect::base_rate:
        why = "has the base rate: it is no effect of its own";
        break;
      case PlantedEffect::shadowed:
        why = "can never set the class rate: wherever it holds, ";
        for (size_t s = 0; s < std::min(setters.size(), kSettersNamed); ++s) {
          why += (s > 0 ? " or " : "") + planted_name(setters[s]);
        }
        if (setters.size() > kSettersNamed) {
          why += " or one of " + std::to_string(setters.size() - kSettersNamed) + " more";
        }
        why += " holds too with a rate at least as high";
        break;
    }
    report_warning("%s: %s (%s, rate %g) %s; truth studies leave it out of power", settings.c_str(),
                   planted_name(r).c_str(), items.c_str(), rule.rate, why.c_str());
  }
}

void print_report(const GenerateOptions& options, const GeneratedDataSet& generated) {
  const GeneratorModel& model = generated.model;
  const GeneratedCounts& counts = generated.counts;
  size_t causal = 0;
  for (const GeneratedAttribute& attribute : model.attributes) {
    causal += attribute.role == AttributeRole::causal ? 1 : 0;
  }
  const std::string& base = options.output_base;
  std::printf("Read %s: %zu causal and %zu noise attributes, %zu planted rules, seed %llu\n",
              options.settings.c_str(), causal, model.attributes.size() - causal,
              model.planted.size(), static_cast<unsigned long long>(options.seed));
  std::printf("Wrote %s: %lld records\n", data_file(base).c_str(),
              static_cast<long long>(counts.records));
  std::printf("Wrote %s: %zu attributes, class %s in column 1\n", names_file(base).c_str(),
              model.attributes.size() + 1, model.class_name.c_str());
  std::printf("Wrote %s.truth.json: class rate %.4f overall, %.4f where no planted rule holds\n",
              base.c_str(), overall_class_rate(model), model.base_rate);
  std::printf("Class counts: 1: %lld, 0: %lld\n", static_cast<long long>(counts.in_class),
              static_cast<long long>(counts.records - counts.in_class));
}

}  // namespace

std::optional<GeneratorModel> read_model(const std::string& text, const std::string& source,
                                         std::mt19937_64& engine) {
  GeneratorModel model;
  std::string error;
  if (!read_generator_settings(text, engine, model, error)) {
    report_error("%s: %s", source.c_str(), error.c_str());
    return std::nullopt;
  }
  warn_of_ineffective_rules(source, model);
  return model;
}

std::optional<GeneratedDataSet> generate_data_set(const GenerateOptions& options) {
  std::string text;
  std::string error;
  GeneratedDataSet generated;
  std::mt19937_64 engine(options.seed);
  if (!read_settings_text(options.settings, text, error)) {
    report_error("%s", error.c_str());
    return std::nullopt;
  }
  std::optional<GeneratorModel> model = read_model(text, options.settings, engine);
  if (!model) return std::nullopt;
  generated.model = std::move(*model);
  if (!check_outputs_apart(options, error)) {
    report_error("%s", error.c_str());
    return std::nullopt;
  }
  if (!write_generated_files(generated.model, options.seed, engine, options.output_base,
                             generated.counts))
    return std::nullopt;
  return generated;
}

int run_generate(int argc, const char* const* argv) {
  GenerateOptions options;
  std::string error;
  if (!parse_generate_options(argc, argv, options, error)) {
    report_error("%s", error.c_str());
    std::printf("%s", generate_usage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", generate_usage().c_str());
    return 0;
  }
  const std::optional<GeneratedDataSet> generated = generate_data_set(options);
  if (!generated) return 1;
  print_report(options, *generated);
  return 0;
}
