// The error and warning lines, kept in the calling thread's current log.
#include "common/messages.h"

#include <cstdarg>
#include <cstdio>

namespace {

thread_local ReportedLines default_log;
thread_local ReportedLines* current_log = &default_log;

std::string formatted(const char* prefix, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  std::string line = prefix;
  if (length > 0) {
    const size_t start = line.size();
    line.resize(start + static_cast<size_t>(length));
    std::vsnprintf(line.data() + start, static_cast<size_t>(length) + 1, format, again);
  }
  va_end(again);
  return line;
}

void print_line(const std::string& line) {
  if (current_log->quiet) return;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

MessageScope::MessageScope(ReportedLines& log) : previous(current_log) { current_log = &log; }

MessageScope::~MessageScope() { current_log = previous; }

void report_error_v(const char* format, va_list args) {
  std::string line = formatted("Error: ", format, args);
  print_line(line);
  current_log->errors.push_back(std::move(line));
}

void report_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_error_v(format, args);
  va_end(args);
}

void report_io_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  report_error_v(format, args);
  va_end(args);
  ++current_log->io_errors;
}

void report_warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = formatted("Warning: ", format, args);
  va_end(args);
  print_line(line);
  ++current_log->warnings;
  current_log->warning_lines.push_back(std::move(line));
}

const ReportedLines& reported_lines() { return *current_log; }
