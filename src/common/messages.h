// The "Error: " and "Warning: " lines of the system's programs. Every such
// line passes through here and is kept in the calling thread's log, so the
// caller of a whole run knows what that run reported: the driver's exit
// status and experiment record, and the miner's exit status, come from its
// log rather than from reading the console back.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

// Prints "Error: " and the formatted text and a line feed on standard
// output (unless the log is quiet), and keeps the line in the calling
// thread's log.
void report_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same for a reporting helper of its own that takes `...`.
void report_error_v(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// The same for a failure of the system rather than of the input: a write
// that failed, a full disk, a read the system broke off, memory that ran out,
// a process stopped by a signal. The same input may succeed another time, so
// the log counts these apart for a caller that would try again.
void report_io_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints "Warning: " and the formatted text and a line feed on standard
// output (unless the log is quiet), and counts and keeps the line in the
// calling thread's log.
void report_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct ReportedLines {
  std::vector<std::string> errors;         // every error line printed, without its line feed
  int io_errors = 0;                       // of them, those of report_io_error
  int warnings = 0;                        // warning lines printed
  std::vector<std::string> warning_lines;  // those lines, without their line feed
  // Keep the lines without printing them: for a caller that hands them on
  // itself (the Python package turns them into exceptions and warnings).
  bool quiet = false;
};

// Makes `log` the calling thread's log while the scope lives (scopes nest;
// the one before is restored at the end). An entry point that runs one whole
// job opens a scope of its own, so its log holds exactly that job's lines,
// whatever other jobs and threads report meanwhile. Without a scope, lines go
// to the thread's own default log. A thread the job starts and that reports
// must open a scope on the same log, and the job must not report meanwhile:
// a log is not locked.
struct MessageScope {
  explicit MessageScope(ReportedLines& log);
  ~MessageScope();
  MessageScope(const MessageScope&) = delete;
  MessageScope& operator=(const MessageScope&) = delete;
  ReportedLines* previous;
};

// The calling thread's current log.
const ReportedLines& reported_lines();
