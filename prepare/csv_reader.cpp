// CSV reading: fields with optional double quotes, records that may span
// lines inside quotes, and the numeric-or-text decision per column.
#include "csv_reader.h"

#include "number_text.h"

namespace {

struct CsvField {
  std::string text;
  bool quoted = false;
};

// Splits the record that starts at lines[next] into fields; a quoted field
// may run on into later lines, and `next` moves past every line used.
bool split_csv_record(const std::vector<std::string>& lines, size_t& next,
                      std::vector<CsvField>& fields, std::string& error) {
  const std::string* line = &lines[next++];
  size_t pos = 0;
  while (true) {
    CsvField field;
    if (pos < line->size() && (*line)[pos] == '"') {
      field.quoted = true;
      ++pos;
      while (true) {
        if (pos >= line->size()) {
          if (next >= lines.size()) {
            error = "a quote that is never closed";
            return false;
          }
          field.text.push_back('\n');
          line = &lines[next++];
          pos = 0;
        } else if ((*line)[pos] == '"') {
          if (pos + 1 < line->size() && (*line)[pos + 1] == '"') {
            field.text.push_back('"');
            pos += 2;
          } else {
            ++pos;
            break;
          }
        } else {
          field.text.push_back((*line)[pos++]);
        }
      }
      if (pos < line->size() && (*line)[pos] != ',') {
        error = "text after the closing quote of a field";
        return false;
      }
    } else {
      const size_t comma = line->find(',', pos);
      const size_t end = comma == std::string::npos ? line->size() : comma;
      field.text = line->substr(pos, end - pos);
      pos = end;
    }
    fields.push_back(std::move(field));
    if (pos >= line->size()) return true;
    ++pos;  // the comma
  }
}

bool is_missing_field(const CsvField& field) {
  return field.text.empty() || (!field.quoted && field.text == "?");
}

void choose_column_kinds(RawDataset& dataset) {
  for (size_t column = 0; column < dataset.attributes.size(); ++column) {
    bool any = false;
    bool all_numbers = true;
    for (const RawRecord& record : dataset.records) {
      const RawValue& value = record.values[column];
      double number = 0;
      if (!value) continue;
      any = true;
      if (!parse_number(*value, number)) {
        all_numbers = false;
        break;
      }
    }
    dataset.attributes[column].kind =
        any && all_numbers ? AttributeKind::numeric : AttributeKind::text;
  }
}

}  // namespace

bool read_csv(const std::vector<std::string>& lines, const std::string& source, RawDataset& dataset,
              std::string& error) {
  size_t next = 0;
  bool have_header = false;
  while (next < lines.size()) {
    if (lines[next].empty()) {
      ++next;
      continue;
    }
    const size_t first_line = next + 1;
    std::vector<CsvField> fields;
    std::string fault;
    if (!split_csv_record(lines, next, fields, fault)) {
      error = source + " line " + std::to_string(first_line) + ": " + fault;
      return false;
    }
    if (!have_header) {
      for (CsvField& field : fields) {
        RawAttribute attribute;
        attribute.name = std::move(field.text);
        dataset.attributes.push_back(std::move(attribute));
      }
      have_header = true;
      continue;
    }
    if (fields.size() != dataset.attributes.size()) {
      error = source + " line " + std::to_string(first_line) + ": " +
              std::to_string(fields.size()) + " fields where the header names " +
              std::to_string(dataset.attributes.size());
      return false;
    }
    RawRecord record;
    record.line = first_line;
    for (CsvField& field : fields) {
      if (is_missing_field(field)) {
        record.values.emplace_back(std::nullopt);
      } else {
        record.values.emplace_back(std::move(field.text));
      }
    }
    dataset.records.push_back(std::move(record));
  }
  if (!have_header) {
    error = source + ": no header line; the file is empty";
    return false;
  }
  choose_column_kinds(dataset);
  return true;
}
