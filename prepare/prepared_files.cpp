// Formatting and writing the .data and .names files of a prepared table.
#include "prepared_files.h"

#include <cstdio>

namespace {

std::string join(const std::vector<std::string>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text.push_back(',');
    text += values[i];
  }
  return text;
}

bool write_whole_file(const std::string& path, const std::string& content, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot open file " + path + " for write";
    return false;
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  if (std::fclose(file) != 0 || !written) {
    error = "cannot write file " + path;
    return false;
  }
  return true;
}

}  // namespace

std::string format_data_line(const std::vector<std::string>& record) { return join(record); }

std::string format_data_text(const PreparedTable& table) {
  std::string text;
  for (const auto& record : table.records) {
    text += format_data_line(record);
    text.push_back('\n');
  }
  return text;
}

std::string format_names_text(const PreparedTable& table) {
  std::string text;
  for (const PreparedColumn& column : table.columns) {
    text += column.name + ": " + join(column.values) + ".";
    if (!column.note.empty()) text += " (" + column.note + ")";
    text.push_back('\n');
  }
  return text;
}

bool write_prepared_files(const PreparedTable& table, const std::string& base, std::string& error) {
  const std::string data_path = base + ".data";
  const std::string names_path = base + ".names";
  const std::string data_partial = data_path + ".partial";
  const std::string names_partial = names_path + ".partial";
  const bool written = write_whole_file(data_partial, format_data_text(table), error) &&
                       write_whole_file(names_partial, format_names_text(table), error);
  if (written && std::rename(data_partial.c_str(), data_path.c_str()) == 0) {
    if (std::rename(names_partial.c_str(), names_path.c_str()) == 0) return true;
    error = "cannot rename " + names_partial + " to " + names_path + "; " + data_path +
            " is new, " + names_path + " is not";
  } else if (written) {
    error = "cannot rename " + data_partial + " to " + data_path;
  }
  std::remove(data_partial.c_str());
  std::remove(names_partial.c_str());
  return false;
}
