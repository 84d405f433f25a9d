// Data sets in memory: from a prepared table, from the files of a prepared
// data set, from and to the columns of a data frame.
#include "dataset.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "common/file_open.h"
#include "common/record_fields.h"
#include "common/run_files.h"
#include "common/text_lines.h"
#include "driver/split.h"
#include "prepared_files.h"

Dataset dataset_of_table(const std::string& name, PreparedTable table) {
  Dataset dataset;
  dataset.name = name;
  for (const PreparedColumn& column : table.columns) dataset.names.push_back(column.name);
  dataset.lines.reserve(table.records.size());
  for (const std::vector<std::string>& record : table.records)
    dataset.lines.push_back(format_data_line(record));
  dataset.table = std::move(table);
  return dataset;
}

std::optional<Dataset> read_prepared_dataset(const std::string& base, const std::string& name) {
  Dataset dataset;
  dataset.name = name;
  std::FILE* names = open_for_read(names_file(base));
  if (names == nullptr) return std::nullopt;
  read_attribute_names(dataset.names, names);
  std::FILE* data = open_for_read(data_file(base));
  if (data == nullptr) return std::nullopt;
  std::string line;
  while (read_text_line(data, line)) dataset.lines.push_back(line);
  std::fclose(data);
  return dataset;
}

int64_t mining_part_records(const Dataset& dataset, double share) {
  int ones = 0;
  int others = 0;
  for (const std::string& line : dataset.lines) {
    if (line.empty()) continue;
    (line[0] == '1' ? ones : others) += 1;
  }
  return int64_t{mining_part_size(ones, share)} + mining_part_size(others, share);
}

RawDataset raw_dataset_of(const std::vector<FrameColumn>& columns) {
  RawDataset dataset;
  size_t records = 0;
  for (const FrameColumn& column : columns) {
    RawAttribute attribute;
    attribute.name = column.name;
    attribute.kind = column.numeric ? AttributeKind::numeric : AttributeKind::nominal;
    attribute.declared_values = column.declared;
    dataset.attributes.push_back(std::move(attribute));
    records = std::max(records, column.codes.size());
  }
  dataset.records.resize(records);
  for (size_t r = 0; r < records; ++r) {
    RawRecord& record = dataset.records[r];
    record.line = r + 1;
    record.values.reserve(columns.size());
    for (const FrameColumn& column : columns) {
      const int64_t code = r < column.codes.size() ? column.codes[r] : -1;
      if (code >= 0 && static_cast<size_t>(code) < column.values.size())
        record.values.emplace_back(column.values[static_cast<size_t>(code)]);
      else
        record.values.emplace_back(std::nullopt);
    }
  }
  return dataset;
}

std::vector<FrameColumn> frame_columns_of(const PreparedTable& table) {
  std::vector<FrameColumn> columns;
  for (size_t c = 0; c < table.columns.size(); ++c) {
    FrameColumn column;
    column.name = table.columns[c].name;
    column.values = table.columns[c].values;
    std::unordered_map<std::string, int64_t> index;
    for (size_t v = 0; v < column.values.size(); ++v)
      index.emplace(column.values[v], static_cast<int64_t>(v));
    column.codes.reserve(table.records.size());
    for (const std::vector<std::string>& record : table.records) {
      const std::string& value = record[c];
      if (is_missing_value(value)) {
        column.codes.push_back(-1);
        continue;
      }
      // Every written value is listed; one that were not would be kept all the same.
      const auto [found, added] = index.emplace(value, static_cast<int64_t>(column.values.size()));
      if (added) column.values.push_back(value);
      column.codes.push_back(found->second);
    }
    columns.push_back(std::move(column));
  }
  return columns;
}
