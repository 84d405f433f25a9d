// The pair of files a prepared table becomes: BASE.data, one record per line
// with values separated by ',', and BASE.names, one line per column
// "name: value,value,...." with an optional note in parentheses, e.g.
// "Class: 1,0. (1 = republican)".
#pragma once

#include <string>
#include <vector>

#include "prepared_table.h"

std::string format_data_text(const PreparedTable& table);
// One record's line of the .data file, without its line feed.
std::string format_data_line(const std::vector<std::string>& record);
std::string format_names_text(const PreparedTable& table);

// Writes BASE.data and BASE.names. Both are written under the names
// BASE.data.partial and BASE.names.partial first and renamed only when both
// are complete, so a failure leaves earlier files of the same names as they
// were and no partial file behind. Returns false with `error` set on failure.
bool write_prepared_files(const PreparedTable& table, const std::string& base, std::string& error);
