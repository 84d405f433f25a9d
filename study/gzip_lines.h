// Lines of a gzip file, or of a plain one (read as it is), in large reads.
#pragma once

#include <zlib.h>

#include <string>
#include <string_view>

class GzipLines {
 public:
  // Opens path; ok() says whether it could, error() why not.
  explicit GzipLines(const std::string& path);
  ~GzipLines();
  GzipLines(const GzipLines&) = delete;
  GzipLines& operator=(const GzipLines&) = delete;

  bool ok() const { return file_ != nullptr; }
  // Appends the next line to `line`, without its line feed (a CR before it
  // is kept). False at the end of the file, or on a read error or a line
  // longer than 64 MiB (error() not empty then).
  bool append_line(std::string& line);
  const std::string& error() const { return error_; }

 private:
  bool refill();

  gzFile file_ = nullptr;
  std::string buffer_;
  size_t begin_ = 0, end_ = 0;
  bool at_end_ = false;
  std::string error_;
};
