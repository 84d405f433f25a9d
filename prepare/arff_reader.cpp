// ARFF reading: a small tokenizer for header lines and rows, then the checks
// of each value against its attribute's declaration.
#include "arff_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "number_text.h"

namespace {

struct Token {
  std::string text;
  bool quoted = false;
  bool found = false;  // false at the end of the line (or at a comment)
};

// Walks one line; '%' outside quotes starts a comment that runs to the end.
struct LineCursor {
  std::string_view line;
  size_t pos = 0;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(LineCursor& cursor) {
  while (cursor.pos < cursor.line.size() && is_blank(cursor.line[cursor.pos])) ++cursor.pos;
}

bool at_end(LineCursor& cursor) {
  skip_blanks(cursor);
  return cursor.pos >= cursor.line.size() || cursor.line[cursor.pos] == '%';
}

// True when the next character (after blanks) is `c`; consumes it.
bool take_char(LineCursor& cursor, char c) {
  if (at_end(cursor) || cursor.line[cursor.pos] != c) return false;
  ++cursor.pos;
  return true;
}

char unescape(char c) {
  switch (c) {
    case 'n':
      return '\n';
    case 't':
      return '\t';
    case 'r':
      return '\r';
    default:
      return c;
  }
}

// Reads a quoted text or a bare word. A bare word ends at a blank or at one
// of `stops`; in rows a value may hold blanks, so there `stops` decides alone
// and trailing blanks are trimmed.
bool read_token(LineCursor& cursor, std::string_view stops, bool blank_stops, Token& token,
                std::string& error) {
  token = Token{};
  if (at_end(cursor)) return true;
  const char first = cursor.line[cursor.pos];
  if (first == '\'' || first == '"') {
    ++cursor.pos;
    while (cursor.pos < cursor.line.size() && cursor.line[cursor.pos] != first) {
      char c = cursor.line[cursor.pos++];
      if (c == '\\' && cursor.pos < cursor.line.size()) c = unescape(cursor.line[cursor.pos++]);
      token.text.push_back(c);
    }
    if (cursor.pos >= cursor.line.size()) {
      error = "a quote that is never closed";
      return false;
    }
    ++cursor.pos;
    token.quoted = true;
    token.found = true;
    return true;
  }
  while (cursor.pos < cursor.line.size()) {
    const char c = cursor.line[cursor.pos];
    if (c == '%' || stops.find(c) != std::string_view::npos) break;
    if (blank_stops && is_blank(c)) break;
    token.text.push_back(c);
    ++cursor.pos;
  }
  while (!token.text.empty() && is_blank(token.text.back())) token.text.pop_back();
  token.found = !token.text.empty();
  return true;
}

std::string lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool read_nominal_values(LineCursor& cursor, RawAttribute& attribute, std::string& error) {
  if (take_char(cursor, '}')) return true;
  while (true) {
    Token value;
    if (!read_token(cursor, ",}", false, value, error)) return false;
    if (!value.found) {
      error = "a value list that is empty or never closed with '}'";
      return false;
    }
    attribute.declared_values.push_back(value.text);
    if (take_char(cursor, '}')) return true;
    if (!take_char(cursor, ',')) {
      error = "',' or '}' expected in the value list";
      return false;
    }
  }
}

bool read_attribute_line(LineCursor& cursor, RawAttribute& attribute, std::string& error) {
  Token name;
  if (!read_token(cursor, "{", true, name, error)) return false;
  if (!name.found) {
    error = "an attribute without a name";
    return false;
  }
  attribute.name = name.text;
  if (take_char(cursor, '{')) {
    attribute.kind = AttributeKind::nominal;
    if (!read_nominal_values(cursor, attribute, error)) return false;
  } else {
    Token type;
    if (!read_token(cursor, "", true, type, error)) return false;
    const std::string word = lower(type.text);
    if (word == "numeric" || word == "real" || word == "integer") {
      attribute.kind = AttributeKind::numeric;
    } else if (word == "string") {
      attribute.kind = AttributeKind::text;
    } else if (word == "date") {
      attribute.kind = AttributeKind::text;
      Token format;  // the date format does not matter: dates are kept as text
      if (!read_token(cursor, "", true, format, error)) return false;
    } else if (word == "relational") {
      error = "relational attributes are not supported";
      return false;
    } else {
      error = "unknown type '" + type.text + "' of attribute '" + name.text + "'";
      return false;
    }
  }
  if (!at_end(cursor)) {
    error = "unexpected text after the declaration of attribute '" + name.text + "'";
    return false;
  }
  return true;
}

RawValue value_of(const Token& token) {
  if (!token.quoted && token.text == "?") return std::nullopt;
  return token.text;
}

// A row value must be one its attribute allows; `found` is a value token.
bool check_value(const RawAttribute& attribute, const RawValue& value, std::string& error) {
  if (!value) return true;
  if (attribute.kind == AttributeKind::nominal &&
      std::find(attribute.declared_values.begin(), attribute.declared_values.end(), *value) ==
          attribute.declared_values.end()) {
    error = "value '" + *value + "' is not declared for attribute '" + attribute.name + "'";
    return false;
  }
  double number = 0;
  if (attribute.kind == AttributeKind::numeric && !parse_number(*value, number)) {
    error = "value '" + *value + "' of numeric attribute '" + attribute.name +
            "' is not a finite number";
    return false;
  }
  return true;
}

// A sparse row lists only some attributes; the others take their default.
bool read_sparse_row(LineCursor& cursor, const std::vector<RawAttribute>& attributes,
                     RawRecord& record, std::string& error) {
  for (const RawAttribute& attribute : attributes) {
    if (attribute.kind == AttributeKind::numeric) {
      record.values.emplace_back("0");
    } else if (attribute.kind == AttributeKind::nominal && !attribute.declared_values.empty()) {
      record.values.emplace_back(attribute.declared_values.front());
    } else {
      record.values.emplace_back(std::nullopt);
    }
  }
  std::vector<bool> given(attributes.size(), false);
  bool closed = take_char(cursor, '}');
  while (!closed) {
    Token index_token;
    if (!read_token(cursor, ",}", true, index_token, error)) return false;
    char* end = nullptr;
    const long index = std::strtol(index_token.text.c_str(), &end, 10);
    if (!index_token.found || index_token.quoted || *end != '\0' || index < 0 ||
        static_cast<unsigned long>(index) >= attributes.size()) {
      error = "'" + index_token.text + "' is not an attribute index from 0 to " +
              std::to_string(attributes.size() - 1);
      return false;
    }
    if (given[index]) {
      error = "attribute index " + index_token.text + " appears twice";
      return false;
    }
    given[index] = true;
    Token value;
    if (!read_token(cursor, ",}", false, value, error)) return false;
    if (!value.found) {
      error = "no value after attribute index " + index_token.text;
      return false;
    }
    record.values[index] = value_of(value);
    if (!check_value(attributes[index], record.values[index], error)) return false;
    closed = take_char(cursor, '}');
    if (!closed && !take_char(cursor, ',')) {
      error = "',' or '}' expected in a sparse row";
      return false;
    }
  }
  if (!at_end(cursor)) {
    error = "text after the '}' of a sparse row";
    return false;
  }
  return true;
}

bool read_dense_row(LineCursor& cursor, const std::vector<RawAttribute>& attributes,
                    RawRecord& record, std::string& error) {
  while (true) {
    Token value;
    if (!read_token(cursor, ",", false, value, error)) return false;
    if (!value.found) {
      error = "an empty value (a missing value is written '?')";
      return false;
    }
    if (record.values.size() == attributes.size()) {
      error = "more than the " + std::to_string(attributes.size()) + " declared values";
      return false;
    }
    record.values.push_back(value_of(value));
    if (!check_value(attributes[record.values.size() - 1], record.values.back(), error)) {
      return false;
    }
    if (at_end(cursor)) break;
    if (!take_char(cursor, ',')) {
      error = "',' expected after value '" + value.text + "'";
      return false;
    }
  }
  if (record.values.size() != attributes.size()) {
    error = std::to_string(record.values.size()) + " values where " +
            std::to_string(attributes.size()) + " attributes are declared";
    return false;
  }
  return true;
}

enum class Section { before_relation, header, data };

}  // namespace

bool read_arff(const std::vector<std::string>& lines, const std::string& source,
               RawDataset& dataset, std::string& error) {
  Section section = Section::before_relation;
  for (size_t i = 0; i < lines.size(); ++i) {
    LineCursor cursor{lines[i]};
    std::string fault;
    if (at_end(cursor)) continue;
    if (section == Section::data) {
      RawRecord record;
      record.line = i + 1;
      const bool ok = take_char(cursor, '{')
                          ? read_sparse_row(cursor, dataset.attributes, record, fault)
                          : read_dense_row(cursor, dataset.attributes, record, fault);
      if (ok) {
        dataset.records.push_back(std::move(record));
        continue;
      }
    } else {
      Token keyword;
      const bool read = read_token(cursor, "", true, keyword, fault);
      const std::string word = lower(keyword.text);
      if (!read) {
        // the tokenizer's fault stands
      } else if (section == Section::before_relation) {
        if (word == "@relation") {
          section = Section::header;
          continue;
        }
        fault = "@relation expected; this is not an ARFF file";
      } else if (word == "@attribute") {
        RawAttribute attribute;
        if (read_attribute_line(cursor, attribute, fault)) {
          dataset.attributes.push_back(std::move(attribute));
          continue;
        }
      } else if (word == "@data") {
        if (dataset.attributes.empty()) {
          fault = "@data before any @attribute";
        } else if (at_end(cursor)) {
          section = Section::data;
          continue;
        } else {
          fault = "unexpected text after @data";
        }
      } else {
        fault = "@attribute or @data expected";
      }
    }
    error = source + " line " + std::to_string(i + 1) + ": " + fault;
    return false;
  }
  if (section != Section::data) {
    error = source + ": the header never reaches @data; this is not a complete ARFF file";
    return false;
  }
  return true;
}
