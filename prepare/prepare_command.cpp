// The steps of varnel-prepare in order, and what it tells the user: what it
// read and wrote, the class counts and a varnel command line to run next.
#include "prepare_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "arff_reader.h"
#include "common/messages.h"
#include "csv_reader.h"
#include "input_text.h"
#include "prepared_files.h"

namespace {

constexpr const char* kSuggestedLevel = "0.05";

// Shell quoting for the suggested command line; the line is only shown,
// never run.
std::string shell_word(const std::string& text) {
  const bool plain = !text.empty() && text.find_first_not_of(
                                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789_-+./=:@%,") == std::string::npos;
  if (plain) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A tenth of the records the driver's split puts into the mining part:
// half of those that begin with '1' plus half of the others, rounded down.
int suggested_min_sup(const PreparedTable& table) {
  size_t ones = 0;
  for (const auto& record : table.records) {
    if (!record.empty() && !record[0].empty() && record[0][0] == '1') ++ones;
  }
  const size_t mining = ones / 2 + (table.records.size() - ones) / 2;
  return std::max<int>(1, static_cast<int>(mining / 10));
}

// Messages quote names and values from the input; a control character in
// them must not break the one-line message apart.
std::string printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
  }
  return text;
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::equivalent(a, b, ignored);
}

void print_report(const PrepareOptions& options, const PreparedInput& prepared) {
  const std::string& base = options.output_base;
  const PreparedTable& table = prepared.table;
  const PreparedColumn& class_column = table.columns[table.class_column];
  std::printf("Read %s: %zu records, %zu attributes\n", options.input.c_str(),
              prepared.records_read, prepared.attributes_read);
  if (table.dropped_numeric > 0) {
    std::printf("Left out %zu numeric attributes\n", table.dropped_numeric);
  }
  std::printf("Wrote %s.data: %zu records\n", base.c_str(), table.records.size());
  const std::string note = class_column.note.empty() ? "" : " (" + class_column.note + ")";
  std::printf("Wrote %s.names: %zu attributes, class %s in column %zu%s\n", base.c_str(),
              table.columns.size(), class_column.name.c_str(), table.class_column + 1,
              note.c_str());
  std::string counts;
  for (const ClassCount& count : table.class_counts) {
    if (!counts.empty()) counts += ", ";
    counts += count.value + ": " + std::to_string(count.records);
  }
  std::printf("Class counts: %s\n", counts.c_str());

  const std::string output_name = std::filesystem::path(base).filename().string();
  const std::string target_value = options.settings.positive ? "1" : "";
  std::printf("Run an experiment with:\n  varnel %s %s %s %d %s %s\n", shell_word(base).c_str(),
              shell_word(class_column.name).c_str(), shell_word(target_value).c_str(),
              suggested_min_sup(table), kSuggestedLevel, shell_word(output_name).c_str());
}

// Prepares the table of `dataset`, read from `source`; false with `error`
// naming the source.
bool prepare_from(const RawDataset& dataset, const PrepareSettings& settings,
                  const std::string& source, PreparedTable& table, std::string& error) {
  if (prepare_table(dataset, settings, table, error)) return true;
  error = source + ": " + error;
  return false;
}

void report_table_warnings(const PreparedTable& table) {
  for (const std::string& warning : table.warnings)
    report_warning("%s", printable(warning).c_str());
}

bool read_and_prepare(const PrepareOptions& options, RawDataset& dataset, PreparedTable& table,
                      std::string& error) {
  std::vector<std::string> lines;
  if (!read_input_lines(options.input, lines, error)) return false;
  const bool read = options.format == InputFormat::arff
                        ? read_arff(lines, options.input, dataset, error)
                        : read_csv(lines, options.input, dataset, error);
  if (!read || !prepare_from(dataset, options.settings, options.input, table, error)) return false;
  // The input is read whole by now, but replacing it would still lose it.
  if (same_file(options.input, options.output_base + ".data") ||
      same_file(options.input, options.output_base + ".names")) {
    error = "writing " + options.output_base + ".data and .names would replace the input " +
            options.input;
    return false;
  }
  return true;
}

}  // namespace

std::optional<PreparedInput> prepare_input(const PrepareOptions& options) {
  RawDataset dataset;
  PreparedInput prepared;
  std::string error;
  if (!read_and_prepare(options, dataset, prepared.table, error)) {
    report_error("%s", printable(error).c_str());
    return std::nullopt;
  }
  prepared.records_read = dataset.records.size();
  prepared.attributes_read = dataset.attributes.size();
  report_table_warnings(prepared.table);
  return prepared;
}

std::optional<PreparedTable> prepare_dataset(const RawDataset& dataset,
                                             const PrepareSettings& settings,
                                             const std::string& source) {
  PreparedTable table;
  std::string error;
  if (!prepare_from(dataset, settings, source, table, error)) {
    report_error("%s", printable(error).c_str());
    return std::nullopt;
  }
  report_table_warnings(table);
  return table;
}

int run_prepare(int argc, const char* const* argv) {
  PrepareOptions options;
  std::string error;
  if (!parse_prepare_options(argc, argv, options, error)) {
    report_error("%s", printable(error).c_str());
    std::printf("%s", prepare_usage().c_str());
    return 2;
  }
  if (options.help) {
    std::printf("%s", prepare_usage().c_str());
    return 0;
  }
  const std::optional<PreparedInput> prepared = prepare_input(options);
  if (!prepared) return 1;
  if (!write_prepared_files(prepared->table, options.output_base, error)) {
    report_error("%s", printable(error).c_str());
    return 1;
  }
  print_report(options, *prepared);
  return 0;
}
