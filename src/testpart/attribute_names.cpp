// Reader of the attribute description: the name of each attribute is the text
// of its line before the first ':'.
#include "testpart/attribute_names.h"

#include "common/messages.h"
#include "common/text_lines.h"

void read_attribute_names(AttributeNames& names, std::FILE* file) {
  std::string line;
  while (read_text_line(file, line)) {
    const size_t colon = line.find(':');
    // A line without a colon still names an attribute (the whole line), so
    // the columns after it keep their places.
    if (colon == std::string::npos) report_error("':' expected");
    std::string name = line.substr(0, colon);
    if (!name.empty()) names.push_back(std::move(name));
  }
  std::fclose(file);
}
