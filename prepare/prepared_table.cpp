// Preparation of the table: one plan per written column says how a value as
// read becomes the text written; the records are then written through them.
#include "prepared_table.h"

#include <map>
#include <set>

#include "number_text.h"
#include "numeric_bins.h"
#include "safe_values.h"

namespace {

enum class Coding { class_flag, bins, text };

struct ColumnPlan {
  size_t attribute = 0;
  Coding coding = Coding::text;
  NumericBins bins;
  std::map<std::string, std::string> written;  // value as read -> as written
};

std::string quote(const std::string& text) { return "'" + text + "'"; }

bool find_target(const RawDataset& dataset, const std::string& target, size_t& index,
                 std::string& error) {
  if (target.empty()) {
    index = dataset.attributes.size() - 1;
    return true;
  }
  for (index = 0; index < dataset.attributes.size(); ++index) {
    if (dataset.attributes[index].name == target) return true;
  }
  error = "no attribute named " + quote(target);
  return false;
}

// Values of a text column: the declared ones first, in declared order, then
// any others in order of appearance.
bool plan_text_column(const RawDataset& dataset, const std::vector<size_t>& kept, bool is_class,
                      ColumnPlan& plan, PreparedColumn& column, PreparedTable& table,
                      std::string& error) {
  const RawAttribute& attribute = dataset.attributes[plan.attribute];
  std::vector<std::string> listed = attribute.declared_values;
  std::set<std::string> seen(listed.begin(), listed.end());
  for (const size_t record : kept) {
    const RawValue& value = dataset.records[record].values[plan.attribute];
    if (value && seen.insert(*value).second) listed.push_back(*value);
  }
  ValueRewrites rewrites;
  std::map<std::string, std::string> read_as;  // written -> first value as read
  for (const std::string& value : listed) {
    if (plan.written.count(value) != 0) continue;  // declared twice
    const std::string safe = make_safe_value(value, rewrites);
    const auto [clash, fresh] = read_as.emplace(safe, value);
    if (!fresh) {
      error = "values " + quote(clash->second) + " and " + quote(value) + " of attribute " +
              quote(attribute.name) + " would both be written as " + quote(safe);
      return false;
    }
    if (!is_class && !check_item_length(attribute.name, safe, error)) return false;
    plan.written.emplace(value, safe);
    column.values.push_back(safe);
  }
  const std::string rewritten = describe_rewrites(rewrites);
  if (!rewritten.empty()) {
    table.warnings.push_back("attribute " + quote(attribute.name) + ": " + rewritten);
  }
  return true;
}

bool plan_binned_column(const RawDataset& dataset, const std::vector<size_t>& kept, int bins,
                        ColumnPlan& plan, PreparedColumn& column, std::string& error) {
  std::vector<double> numbers;
  for (const size_t record : kept) {
    const RawValue& value = dataset.records[record].values[plan.attribute];
    double number = 0;
    if (value && parse_number(*value, number)) numbers.push_back(number);
  }
  plan.coding = Coding::bins;
  plan.bins = choose_bins(std::move(numbers), bins);
  for (const std::string& label : plan.bins.labels) {
    if (!check_item_length(column.name, label, error)) return false;
  }
  column.values = plan.bins.labels;
  return true;
}

std::string write_value(const ColumnPlan& plan, const RawValue& value,
                        const PrepareSettings& settings) {
  if (!value) return "?";
  switch (plan.coding) {
    case Coding::class_flag:
      return *value == *settings.positive ? "1" : "0";
    case Coding::bins: {
      double number = 0;
      parse_number(*value, number);  // checked by the reader
      return plan.bins.labels[find_bin(plan.bins, number)];
    }
    case Coding::text:
      break;
  }
  return plan.written.at(*value);
}

bool check_names(const PreparedTable& table, std::string& error) {
  std::set<std::string> names;
  for (const PreparedColumn& column : table.columns) {
    if (!check_attribute_name(column.name, error)) return false;
    // Items of two attributes of one name could not be told apart.
    if (!names.insert(column.name).second) {
      error = "two attributes are named " + quote(column.name);
      return false;
    }
  }
  return true;
}

void count_classes(PreparedTable& table) {
  const PreparedColumn& column = table.columns[table.class_column];
  std::map<std::string, size_t> counts;
  for (const auto& record : table.records) ++counts[record[table.class_column]];
  for (const std::string& value : column.values)
    table.class_counts.push_back({value, counts[value]});
  size_t classes = 0;
  for (const ClassCount& count : table.class_counts) classes += count.records > 0 ? 1 : 0;
  if (classes < 2) {
    table.warnings.push_back("every record is in one class of " + quote(column.name) +
                             "; no rule can tell the classes apart");
  }
}

// With an empty target value the driver takes the class values back from
// the miner's class-value map, which holds words of at most 99 bytes.
void warn_of_unreadable_class_values(PreparedTable& table) {
  const PreparedColumn& column = table.columns[table.class_column];
  for (const std::string& value : column.values) {
    if (value.find_first_of(" \t") != std::string::npos || value.size() > kMaxNameBytes) {
      table.warnings.push_back("class value " + quote(value) +
                               " holds a blank or is longer than 99 bytes; run varnel with a "
                               "target value, or prepare with --positive");
      return;
    }
  }
}

// The attributes to write, in order: a coded class first, then the others
// in their own order, less the numeric ones when they are dropped.
std::vector<size_t> order_columns(const RawDataset& dataset, const PrepareSettings& settings,
                                  size_t target, PreparedTable& table) {
  std::vector<size_t> order;
  if (settings.positive) order.push_back(target);
  for (size_t i = 0; i < dataset.attributes.size(); ++i) {
    if (settings.positive && i == target) continue;
    if (i != target && settings.drop_numeric &&
        dataset.attributes[i].kind == AttributeKind::numeric) {
      ++table.dropped_numeric;
      continue;
    }
    order.push_back(i);
  }
  return order;
}

// The records that have a class value, by index; false with `error` set
// when there are none, or none of the positive value.
bool keep_records_with_class(const RawDataset& dataset, const PrepareSettings& settings,
                             size_t target, PreparedTable& table, std::vector<size_t>& kept,
                             std::string& error) {
  const std::string& target_name = dataset.attributes[target].name;
  bool positive_seen = false;
  for (size_t i = 0; i < dataset.records.size(); ++i) {
    const RawValue& value = dataset.records[i].values[target];
    if (!value) continue;
    kept.push_back(i);
    positive_seen = positive_seen || (settings.positive && *value == *settings.positive);
  }
  table.left_out_records = dataset.records.size() - kept.size();
  if (kept.empty()) {
    error = "no record has a value of attribute " + quote(target_name);
    return false;
  }
  if (settings.positive && !positive_seen) {
    error =
        "value " + quote(*settings.positive) + " never occurs in attribute " + quote(target_name);
    return false;
  }
  if (table.left_out_records > 0) {
    table.warnings.push_back(std::to_string(table.left_out_records) +
                             " records without a value of " + quote(target_name) + " are left out");
  }
  return true;
}

// The columns to write, named, with the plan of each; a coded class gets
// its values and note here, the other columns once their values are seen.
std::vector<ColumnPlan> plan_columns(const RawDataset& dataset, const PrepareSettings& settings,
                                     size_t target, PreparedTable& table) {
  std::vector<ColumnPlan> plans;
  for (const size_t attribute : order_columns(dataset, settings, target, table)) {
    ColumnPlan plan;
    plan.attribute = attribute;
    PreparedColumn column;
    column.name = dataset.attributes[attribute].name;
    if (attribute == target) {
      table.class_column = table.columns.size();
      if (settings.positive) {
        ValueRewrites ignored;
        plan.coding = Coding::class_flag;
        column.values = {"1", "0"};
        column.note = "1 = " + make_safe_value(*settings.positive, ignored);
      }
    }
    table.columns.push_back(std::move(column));
    plans.push_back(std::move(plan));
  }
  return plans;
}

}  // namespace

bool prepare_table(const RawDataset& dataset, const PrepareSettings& settings, PreparedTable& table,
                   std::string& error) {
  if (dataset.attributes.empty()) {
    error = "no attributes";
    return false;
  }
  size_t target = 0;
  if (!find_target(dataset, settings.target, target, error)) return false;
  const std::string& target_name = dataset.attributes[target].name;

  std::vector<size_t> kept;
  if (!keep_records_with_class(dataset, settings, target, table, kept, error)) return false;
  std::vector<ColumnPlan> plans = plan_columns(dataset, settings, target, table);
  if (!check_names(table, error)) return false;

  for (size_t i = 0; i < plans.size(); ++i) {
    if (plans[i].coding == Coding::class_flag) continue;
    const bool is_class = plans[i].attribute == target;
    const bool ok =
        !is_class && dataset.attributes[plans[i].attribute].kind == AttributeKind::numeric
            ? plan_binned_column(dataset, kept, settings.bins, plans[i], table.columns[i], error)
            : plan_text_column(dataset, kept, is_class, plans[i], table.columns[i], table, error);
    if (!ok) return false;
  }

  for (const size_t index : kept) {
    const RawRecord& record = dataset.records[index];
    std::vector<std::string> row;
    row.reserve(plans.size());
    for (const ColumnPlan& plan : plans) {
      row.push_back(write_value(plan, record.values[plan.attribute], settings));
    }
    table.records.push_back(std::move(row));
  }
  if (table.columns.size() < 2) {
    table.warnings.push_back("no attribute is left besides the class " + quote(target_name) +
                             "; there is nothing to mine");
  }
  count_classes(table);
  if (!settings.positive) warn_of_unreadable_class_values(table);
  return true;
}
