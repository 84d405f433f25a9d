// Opening files with the system's messages for a missing or unwritable one.
#include "common/file_open.h"

#include "common/messages.h"

std::FILE* open_for_read(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) report_error("cannot open file %s for read", path.c_str());
  return file;
}

std::FILE* open_for_write(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) report_error("cannot open file %s for write", path.c_str());
  return file;
}

bool close_written(std::FILE* file, const std::string& path, bool written_ok) {
  const bool ok = !std::ferror(file) && written_ok;
  if (std::fclose(file) == 0 && ok) return true;
  report_error("cannot write file %s", path.c_str());
  return false;
}
