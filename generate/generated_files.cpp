// Writing and committing the generated files together.
#include "generated_files.h"

#include <array>
#include <cstdio>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "prepared_files.h"
#include "truth_file.h"

namespace {

// The names file through the one writer of that format.
std::string names_text(const GeneratorModel& model) {
  PreparedTable table;
  table.columns.push_back({model.class_name, {"1", "0"}, ""});
  for (const GeneratedAttribute& attribute : model.attributes) {
    table.columns.push_back({attribute.name, attribute.values, ""});
  }
  return format_names_text(table);
}

bool write_text(const std::string& path, const std::string& text) {
  std::FILE* file = open_for_write(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return close_written(file, path, written);
}

bool write_partials(const GeneratorModel& model, uint64_t seed, std::mt19937_64& engine,
                    const std::array<std::string, 3>& partials, GeneratedCounts& counts) {
  std::FILE* data = open_for_write(partials[0], "wb");
  if (data == nullptr) return false;
  const bool written = write_records(data, model, engine, counts);
  return close_written(data, partials[0], written) && write_text(partials[1], names_text(model)) &&
         write_text(partials[2], truth_file_text(model, seed));
}

}  // namespace

bool write_generated_files(const GeneratorModel& model, uint64_t seed, std::mt19937_64& engine,
                           const std::string& base, GeneratedCounts& counts) {
  const std::array<std::string, 3> finals = {data_file(base), names_file(base),
                                             base + ".truth.json"};
  std::array<std::string, 3> partials;
  for (size_t f = 0; f < finals.size(); ++f) partials[f] = finals[f] + ".partial";
  bool ok = write_partials(model, seed, engine, partials, counts);
  for (size_t f = 0; f < finals.size() && ok; ++f) {
    if (std::rename(partials[f].c_str(), finals[f].c_str()) != 0) {
      report_error("cannot rename %s to %s%s", partials[f].c_str(), finals[f].c_str(),
                   f > 0 ? "; the files already renamed do not belong with the others" : "");
      ok = false;
    }
  }
  if (!ok) {
    for (const std::string& partial : partials) std::remove(partial.c_str());
  }
  return ok;
}
