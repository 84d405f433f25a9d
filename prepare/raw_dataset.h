// A data set as read from its source file, before anything is rewritten for
// the system's formats: attribute declarations and records of value texts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

enum class AttributeKind { nominal, numeric, text };

struct RawAttribute {
  std::string name;
  AttributeKind kind = AttributeKind::nominal;
  // The values a nominal attribute declares, in declared order; empty when
  // the source declares none (a CSV column, a string attribute).
  std::vector<std::string> declared_values;
};

// A missing value is an empty optional; a present value is its text exactly
// as the source holds it once quoting is undone.
using RawValue = std::optional<std::string>;

struct RawRecord {
  size_t line = 0;               // line of the source file where the record starts, from 1
  std::vector<RawValue> values;  // one per attribute
};

struct RawDataset {
  std::vector<RawAttribute> attributes;
  std::vector<RawRecord> records;
};
