// Opening a file the system reads, with the one message every reader gives
// for a file that is not there.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` for reading with `mode` ("r" or "rb"). On failure prints
// "Error: cannot open file <path> for read" and returns null.
std::FILE* open_for_read(const std::string& path, const char* mode = "r");
