// Reading a text input file whole, as lines, for the ARFF and CSV readers.
#pragma once

#include <string>
#include <vector>

// Reads every line of the file at `path` (line feed or CR LF ends a line).
// On failure returns false with `error` set to a message naming the file:
// a file that cannot be opened or read, or one that holds a zero byte (no
// text file does, and the system's files could not carry it).
bool read_input_lines(const std::string& path, std::vector<std::string>& lines, std::string& error);
