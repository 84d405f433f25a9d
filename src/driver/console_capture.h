// Watches everything the experiment prints on standard output, its own lines
// and the miner's alike, while passing it through unchanged: the experiment's
// status and record need every "Error: " line and the number of warnings.
#pragma once

#include <string>
#include <vector>

struct ConsoleLines {
  std::vector<std::string> errors;  // every line that began "Error: ", without its line feed
  int warnings = 0;                 // lines that began "Warning: "
};

// Routes file descriptor 1 through a pipe that a second thread reads and
// copies to the real standard output. Returns false (and watches nothing)
// when no pipe or thread can be had.
bool start_console_capture();

// Flushes stdout, puts the real standard output back and returns what was
// seen since start_console_capture. Child processes must have ended.
ConsoleLines finish_console_capture();
