// The attribute description "<base>.names": one attribute per line, its name
// the text before the line's first ':'; whatever follows is not read.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Position in the list = column of the attribute in every record.
using AttributeNames = std::vector<std::string>;

// Appends the names defined in `file` (opened for reading by the caller) to
// `names` and closes the file.
void read_attribute_names(AttributeNames& names, std::FILE* file);
