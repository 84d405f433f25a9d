// Line reading shared by every text reader: a line feed ends a line, and a CR
// right before it (or at the very end of the file) belongs to the line end,
// so files written on Windows read the same as on Linux.
#pragma once

#include <cstdio>
#include <string>

// Reads the next line of `file` into `line`, without its line end. Returns
// false, with `line` empty, once the file is exhausted (or unreadable). A
// last line without a line feed is returned like any other.
bool read_text_line(std::FILE* file, std::string& line);
