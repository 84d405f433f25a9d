// CSV records of a rule table, as the study's tables read them: fields
// separated by commas; a field that starts with a double quote runs to the
// quote that closes it and may hold commas, line breaks and doubled quotes
// (""); text after the closing quote is kept, as is a quote inside an
// unquoted field. A CR before a line feed ends the line.
#pragma once

#include <string>
#include <vector>

#include "gzip_lines.h"

enum class RecordRead { kRecord, kEnd, kError };

class CsvRecords {
 public:
  explicit CsvRecords(const std::string& path) : lines_(path) {}
  // Whether the file could be opened; error() says why not.
  bool ok() const { return lines_.ok(); }
  const std::string& error() const { return lines_.error(); }

  // Reads the next record into `fields` (their count in `field_count`; the
  // strings beyond it are stale). An empty line is a record of no fields.
  // kError, with `error` set, for a read error, a quote never closed or a
  // NUL byte.
  RecordRead next(std::vector<std::string>& fields, int& field_count, std::string& error);

 private:
  bool next_line(std::string& error);

  GzipLines lines_;
  std::string line_;
};
