// Opening files with the system's messages for a missing or unwritable one.
#include "common/file_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/messages.h"

namespace {

// A file that is not there, or that its name cannot reach, is the input's
// fault; any other failure to open (no descriptors left, an I/O error, ...)
// is the system's.
bool input_at_fault(int error) {
  return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP ||
         error == EACCES || error == EPERM || error == EISDIR;
}

}  // namespace

std::FILE* open_for_read(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file != nullptr) return file;
  if (input_at_fault(errno)) {
    report_error("cannot open file %s for read", path.c_str());
  } else {
    report_io_error("cannot open file %s for read", path.c_str());
  }
  return nullptr;
}

std::FILE* open_for_write(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) report_io_error("cannot open file %s for write", path.c_str());
  return file;
}

bool close_read(std::FILE* file, const std::string& path) {
  const bool read = !std::ferror(file);
  std::fclose(file);
  if (!read) report_io_error("cannot read file %s to its end", path.c_str());
  return read;
}

bool close_written(std::FILE* file, const std::string& path, bool written_ok) {
  const bool ok = !std::ferror(file) && written_ok;
  if (std::fclose(file) == 0 && ok) return true;
  report_io_error("cannot write file %s", path.c_str());
  return false;
}

void reserve_file_space(int descriptor, int64_t bytes) {
  if (bytes > 0) (void)fallocate(descriptor, 0, 0, static_cast<off_t>(bytes));
}

bool write_at(int descriptor, const char* data, size_t size, int64_t offset) {
  while (size > 0) {
    const ssize_t wrote = pwrite(descriptor, data, size, static_cast<off_t>(offset));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
    offset += wrote;
  }
  return true;
}
