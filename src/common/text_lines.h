// Line reading shared by every text reader: a line feed ends a line, and a CR
// right before it (or at the very end of the file) belongs to the line end,
// so files written on Windows read the same as on Linux. And the writer of
// files that are one value per line.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A line as read, up to and with its line feed when it has one, without its
// line end.
inline std::string_view without_line_end(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Reads the next line of `file` into `line`, without its line end. Returns
// false, with `line` empty, once the file is exhausted (or unreadable). A
// last line without a line feed is returned like any other.
bool read_text_line(std::FILE* file, std::string& line);

// Calls on_line(line) for each line of `text`, without its line end, as
// read_text_line gives the lines of a file that holds `text`.
template <typename OnLine>
void for_each_text_line(std::string_view text, const OnLine& on_line) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    on_line(without_line_end(text.substr(0, end == std::string_view::npos ? end : end + 1)));
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

// Reads `file` in blocks of whole lines, each about `block_bytes` long (a
// line longer than that is a block of its own; the last block ends where
// the file does), and calls on_block(text) for each, until it returns false.
// Returns false when on_block did.
bool for_each_line_block(std::FILE* file, size_t block_bytes,
                         const std::function<bool(std::string_view)>& on_block);

// Creates or truncates `path` with each of `lines` and a line feed. Returns
// false after an "Error: " line when it cannot be written in full.
bool write_text_lines(const std::string& path, const std::vector<std::string>& lines);
