#include "gzip_lines.h"

#include <cerrno>
#include <cstring>

namespace {
// zlib's own buffer and ours: a rule table's line is a few hundred bytes.
constexpr unsigned kReadBytes = 1 << 18;
// A longer line is no rule table's: it is refused before it fills memory.
constexpr size_t kLongestLine = size_t{64} << 20;
}  // namespace

GzipLines::GzipLines(const std::string& path) : buffer_(kReadBytes, '\0') {
  errno = 0;
  file_ = gzopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    error_ = errno != 0 ? std::strerror(errno) : "cannot open";
    return;
  }
  gzbuffer(file_, kReadBytes);
}

GzipLines::~GzipLines() {
  if (file_ != nullptr) gzclose(file_);
}

bool GzipLines::refill() {
  if (at_end_) return false;
  int got = gzread(file_, buffer_.data(), kReadBytes);
  if (got < 0) {
    int code = 0;
    const char* message = gzerror(file_, &code);
    error_ = code == Z_ERRNO ? std::strerror(errno) : message;
    at_end_ = true;
    return false;
  }
  if (got == 0) {
    // A stream cut short reads as its end without an error from gzread.
    int code = 0;
    const char* message = gzerror(file_, &code);
    if (code != Z_OK && code != Z_STREAM_END) error_ = message;
    at_end_ = true;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<size_t>(got);
  return true;
}

bool GzipLines::append_line(std::string& line) {
  bool any = false;
  for (;;) {
    if (begin_ == end_ && !refill()) return any && error_.empty();
    any = true;
    const char* start = buffer_.data() + begin_;
    const void* found = std::memchr(start, '\n', end_ - begin_);
    if (found != nullptr) {
      size_t length = static_cast<const char*>(found) - start;
      line.append(start, length);
      begin_ += length + 1;
      return true;
    }
    line.append(start, end_ - begin_);
    begin_ = end_;
    if (line.size() > kLongestLine) {
      error_ = "a line longer than 64 MiB";
      return false;
    }
  }
}
