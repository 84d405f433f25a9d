// Parsing the options and arguments of varnel-prepare.
#include "prepare_options.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr int kMaxBins = 1000;

bool parse_bins(std::string_view text, int& bins) {
  const char* end = text.data() + text.size();
  const auto [stop, failure] = std::from_chars(text.data(), end, bins);
  return failure == std::errc() && stop == end && bins >= 2 && bins <= kMaxBins;
}

bool format_named(std::string_view word, InputFormat& format) {
  if (word == "arff")
    format = InputFormat::arff;
  else if (word == "csv")
    format = InputFormat::csv;
  else
    return false;
  return true;
}

// The format told by the extension of `name`, in any letter case.
bool format_from_name(std::string_view name, InputFormat& format) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string extension;
  for (const char c : name.substr(dot + 1)) {
    extension.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return format_named(extension, format);
}

// What the command line holds beside the settings its options set directly.
struct ReadOptions {
  std::vector<std::string> positional;
  std::optional<std::string> format_name;
  bool bins_given = false;
};

// Takes the value of --target, --positive, --format or --bins; false with
// `error` set.
bool take_option_value(const std::string& name, const std::string& value, PrepareOptions& options,
                       ReadOptions& read, std::string& error) {
  if (name == "--target") {
    if (value.empty()) {
      error = "--target needs an attribute name";
      return false;
    }
    options.settings.target = value;
  } else if (name == "--positive") {
    options.settings.positive = value;
  } else if (name == "--format") {
    read.format_name = value;
  } else {
    read.bins_given = true;
    if (!parse_bins(value, options.settings.bins)) {
      error = "--bins needs a whole number from 2 to " + std::to_string(kMaxBins) + ", not '" +
              value + "'";
      return false;
    }
  }
  return true;
}

// Checks what the options left to check once all are read: the two
// arguments, the format, options that exclude each other.
bool finish_options(const ReadOptions& read, PrepareOptions& options, std::string& error) {
  if (read.bins_given && options.settings.drop_numeric) {
    error = "--bins and --drop-numeric exclude each other";
    return false;
  }
  if (read.positional.size() != 2) {
    error = "expected INPUT and OUTPUT_BASE, got " + std::to_string(read.positional.size()) +
            " arguments";
    return false;
  }
  options.input = read.positional[0];
  options.output_base = read.positional[1];
  if (options.output_base.empty() || options.output_base.back() == '/') {
    error = "OUTPUT_BASE must name the files to write, not a folder: '" + options.output_base + "'";
    return false;
  }
  if (read.format_name) {
    if (!format_named(*read.format_name, options.format)) {
      error = "--format must be arff or csv, not '" + *read.format_name + "'";
      return false;
    }
  } else if (!format_from_name(options.input, options.format)) {
    error = "cannot tell the format of " + options.input +
            " from its extension; give --format arff or --format csv";
    return false;
  }
  return true;
}

}  // namespace

std::string prepare_usage() {
  return "Usage: varnel-prepare [--target ATTR] [--positive VALUE] [--bins K | --drop-numeric]\n"
         "                      [--format arff|csv] INPUT OUTPUT_BASE\n"
         "Turns a data set in ARFF or CSV (with a header line) into OUTPUT_BASE.data and\n"
         "OUTPUT_BASE.names for varnel.\n"
         "  --target ATTR     the class attribute (default: the last attribute)\n"
         "  --positive VALUE  code the class 1 for VALUE and 0 for any other value, and\n"
         "                    write it as the first column\n"
         "  --bins K          equal-frequency bins per numeric attribute (default 4, 2 to 1000)\n"
         "  --drop-numeric    leave numeric attributes out instead\n"
         "  --format F        arff or csv (default: from the extension of INPUT)\n"
         "  --help            show this text\n";
}

bool parse_prepare_options(int argc, const char* const* argv, PrepareOptions& options,
                           std::string& error) {
  ReadOptions read;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      read.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return true;
    }
    if (arg == "--drop-numeric") {
      options.settings.drop_numeric = true;
      continue;
    }
    // The options that take a value: "--name value" or "--name=value".
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    if (name != "--target" && name != "--positive" && name != "--bins" && name != "--format") {
      error = "unknown option " + arg;
      return false;
    }
    if (!value) {
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    if (!take_option_value(name, *value, options, read, error)) return false;
  }
  return finish_options(read, options, error);
}
