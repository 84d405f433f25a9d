// The "Error: " and "Warning: " lines of the system's programs. Every such
// line passes through here, so a program knows what it reported: the
// driver's exit status and experiment record, and the miner's exit status,
// come from these counts rather than from reading the console back.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

// Prints "Error: " and the formatted text and a line feed on standard
// output, and keeps the line.
void report_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for a reporting helper of its own that takes `...`.
void report_error_v(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Prints "Warning: " and the formatted text and a line feed on standard
// output, and counts the line.
void report_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct ReportedLines {
  std::vector<std::string> errors;  // every error line printed, without its line feed
  int warnings = 0;                 // warning lines printed
};

// What the process has reported so far.
const ReportedLines& reported_lines();
