// A tee on file descriptor 1: a pipe in front of the real standard output,
// so that a child process's lines are seen as well as our own.
#include "driver/console_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <thread>

namespace {

struct Capture {
  int real_stdout = -1;
  int read_end = -1;
  std::thread reader;
  ConsoleLines lines;
  std::string partial;
};

Capture capture;

void note_line(std::string_view line) {
  if (line.starts_with("Error: ")) capture.lines.errors.emplace_back(line);
  if (line.starts_with("Warning: ")) ++capture.lines.warnings;
}

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

void copy_and_watch() {
  char buffer[1 << 16];
  bool passing = true;  // a reader that stops reading would block the writers
  while (true) {
    const ssize_t got = ::read(capture.read_end, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (passing) passing = write_all(capture.real_stdout, buffer, static_cast<size_t>(got));
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        note_line(capture.partial);
        capture.partial.clear();
      } else if (capture.partial.size() < 4096) {
        // Only the start of a line decides; a 10 MB line need not be kept.
        capture.partial.push_back(buffer[i]);
      }
    }
  }
  if (!capture.partial.empty()) note_line(capture.partial);
  capture.partial.clear();
}

}  // namespace

bool start_console_capture() {
  std::fflush(stdout);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  capture.real_stdout = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (capture.real_stdout < 0 || ::dup2(ends[1], 1) < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    if (capture.real_stdout >= 0) ::close(capture.real_stdout);
    capture.real_stdout = -1;
    return false;
  }
  ::close(ends[1]);
  capture.read_end = ends[0];
  capture.lines = ConsoleLines();
  capture.reader = std::thread(copy_and_watch);
  return true;
}

ConsoleLines finish_console_capture() {
  std::fflush(stdout);
  if (capture.real_stdout < 0) return capture.lines;
  // Replacing our copy of the write end lets the reader see the end.
  ::dup2(capture.real_stdout, 1);
  capture.reader.join();
  ::close(capture.real_stdout);
  capture.real_stdout = -1;
  ::close(capture.read_end);
  capture.read_end = -1;
  return capture.lines;
}
