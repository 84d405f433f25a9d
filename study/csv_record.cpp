#include "csv_record.h"

#include <cstring>

namespace {

std::string& field_at(std::vector<std::string>& fields, int index) {
  if (static_cast<size_t>(index) == fields.size()) fields.emplace_back();
  std::string& field = fields[index];
  field.clear();
  return field;
}

}  // namespace

bool CsvRecords::next_line(std::string& error) {
  line_.clear();
  if (!lines_.append_line(line_)) {
    error = lines_.error();
    return false;
  }
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (std::memchr(line_.data(), '\0', line_.size()) != nullptr) {
    error = "a NUL byte";
    return false;
  }
  return true;
}

RecordRead CsvRecords::next(std::vector<std::string>& fields, int& field_count,
                            std::string& error) {
  field_count = 0;
  if (!next_line(error)) return error.empty() ? RecordRead::kEnd : RecordRead::kError;
  const std::string& line = line_;
  if (line.empty()) return RecordRead::kRecord;
  size_t at = 0;
  for (;;) {
    std::string& field = field_at(fields, field_count++);
    if (at < line.size() && line[at] == '"') {
      ++at;
      for (;;) {
        size_t quote = line.find('"', at);
        if (quote == std::string::npos) {
          // The field goes on past the line break, which it holds.
          field.append(line, at, std::string::npos);
          field.push_back('\n');
          at = 0;
          if (!next_line(error)) {
            if (error.empty()) error = "a quote never closed";
            return RecordRead::kError;
          }
          continue;
        }
        field.append(line, at, quote - at);
        at = quote + 1;
        if (at < line.size() && line[at] == '"') {
          field.push_back('"');
          ++at;
          continue;
        }
        break;
      }
    }
    size_t comma = line.find(',', at);
    size_t stop = comma == std::string::npos ? line.size() : comma;
    field.append(line, at, stop - at);
    if (comma == std::string::npos) return RecordRead::kRecord;
    at = comma + 1;
  }
}
