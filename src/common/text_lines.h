// Line reading shared by every text reader: a line feed ends a line, and a CR
// right before it (or at the very end of the file) belongs to the line end,
// so files written on Windows read the same as on Linux. And the writer of
// files that are one value per line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Reads the next line of `file` into `line`, without its line end. Returns
// false, with `line` empty, once the file is exhausted (or unreadable). A
// last line without a line feed is returned like any other.
bool read_text_line(std::FILE* file, std::string& line);

// Creates or truncates `path` with each of `lines` and a line feed. Returns
// false after an "Error: " line when it cannot be written in full.
bool write_text_lines(const std::string& path, const std::vector<std::string>& lines);
