// Writer and reader of the miner's rule file; the reader takes two passes,
// so that the records and the item ids each take one allocation.
#include "minerio/rule_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "common/file_open.h"
#include "common/messages.h"
#include "common/run_files.h"
#include "common/text_numbers.h"
#include "minerio/mining_stats.h"

namespace {

enum class RecordScan { kept, dropped, end_of_file, stop };

struct ScannedRule {
  RuleRecord record;           // items left unset
  std::vector<int32_t> items;  // grows with the words read, never with a claimed length
};

bool scan_real(std::FILE* file, double& value) { return std::fscanf(file, "%lf", &value) == 1; }

// Scans one record. Both passes call it with the same file content, so they
// keep and drop the same records; only the first pass (`report`) prints.
RecordScan scan_rule(std::FILE* file, ScannedRule& rule, int record_number, const std::string& path,
                     int32_t transactions, bool report) {
  RuleRecord& record = rule.record;
  const ScanStatus first = scan_int32(file, record.preorder);
  if (first == ScanStatus::end_of_file) return RecordScan::end_of_file;

  auto stop_unreadable = [&] {
    if (report)
      report_error(
          "rule %d of file %s is cut short or holds a word that is not a number; "
          "reading stops there",
          record_number, path.c_str());
    return RecordScan::stop;
  };
  if (first != ScanStatus::ok || scan_int32(file, record.length) != ScanStatus::ok)
    return stop_unreadable();
  if (record.length < 0) {
    if (report)
      report_error("negative pattern length %d in rule %d of file %s; reading stops there",
                   record.length, record_number, path.c_str());
    return RecordScan::stop;
  }
  rule.items.clear();
  for (int32_t i = 0; i < record.length; ++i) {
    int32_t item = 0;
    if (scan_int32(file, item) != ScanStatus::ok) return stop_unreadable();
    rule.items.push_back(item);
  }
  double ignored = 0.0;
  if (scan_int32(file, record.support) != ScanStatus::ok ||
      scan_int32(file, record.class_support) != ScanStatus::ok || !scan_real(file, ignored) ||
      !scan_real(file, record.pvalue) || !scan_real(file, ignored) || !scan_real(file, ignored))
    return stop_unreadable();

  // The support sizes the rule's tid-list room; no tid list can be longer
  // than the number of mined transactions. That holds when the statistics
  // are missing too (no transactions known): such a file cannot be trusted
  // to size memory.
  if (record.support < 0 || record.support > transactions) {
    if (report)
      report_error("impossible support %d of rule %d in file %s; the rule is dropped",
                   record.support, record_number, path.c_str());
    return RecordScan::dropped;
  }
  return RecordScan::kept;
}

// The mined transactions as far as the miner's files vouch for them: the
// statistics file's count, but never more than the class-label file holds
// labels (one per transaction), so that a count that lies cannot make room
// for tid lists that no file holds.
int32_t vouched_transactions(const std::string& output_name, int32_t stated) {
  const std::optional<uintmax_t> labels = class_labels_held(output_name);
  if (!labels) return stated;
  return static_cast<int32_t>(
      std::min<uintmax_t>(static_cast<uintmax_t>(std::max(stated, 0)), *labels));
}

}  // namespace

int read_rules(const std::string& output_name, int32_t stated_transactions, RuleSet& rules) {
  rules = RuleSet();
  const std::string path = rule_file(output_name);
  std::FILE* file = open_for_read(path);
  if (file == nullptr) return 0;

  const int32_t transactions = vouched_transactions(output_name, stated_transactions);
  ScannedRule rule;
  RecordScan scan = RecordScan::kept;
  int64_t record_total = 0;
  int64_t item_total = 0;
  int64_t tid_total = 0;
  int64_t records_in_file = 0;
  for (int number = 1; (scan = scan_rule(file, rule, number, path, transactions, true)) !=
                           RecordScan::end_of_file &&
                       scan != RecordScan::stop;
       ++number) {
    ++records_in_file;
    if (scan == RecordScan::dropped) continue;
    ++record_total;
    item_total += rule.record.length;
    tid_total += rule.record.support;
  }

  // A file cut at a line end reads as fewer rules without any other sign.
  const std::optional<int64_t> stated = stated_rule_count(output_name);
  if (scan == RecordScan::end_of_file && stated && *stated != records_in_file) {
    report_error("file %s holds %lld rules, not the %lld that file %s states", path.c_str(),
                 static_cast<long long>(records_in_file), static_cast<long long>(*stated),
                 statistics_file(output_name).c_str());
  }

  std::rewind(file);
  rules.records.reserve(static_cast<size_t>(record_total));
  rules.item_buffer.resize(static_cast<size_t>(item_total));

  int64_t item_fill = 0;
  int64_t tid_fill = 0;
  for (int number = 1; (scan = scan_rule(file, rule, number, path, transactions, false)) !=
                           RecordScan::end_of_file &&
                       scan != RecordScan::stop;
       ++number) {
    if (scan == RecordScan::dropped) continue;
    RuleRecord record = rule.record;
    // A file that grew between the passes must not write past the room.
    if (static_cast<int64_t>(rules.records.size()) == record_total ||
        item_fill + record.length > item_total || tid_fill + record.support > tid_total)
      break;
    record.items = rules.item_buffer.data() + item_fill;
    std::copy(rule.items.begin(), rule.items.end(), record.items);
    std::sort(record.items, record.items + record.length);
    item_fill += record.length;
    tid_fill += record.support;
    rules.records.push_back(record);
  }
  std::fclose(file);

  if (item_fill != item_total) report_error("inconsistent pattern buffer size");
  if (tid_fill != tid_total) report_error("inconsistent tid list buffer size");
  return static_cast<int>(rules.records.size());
}

void write_rule_line(std::FILE* file, const RuleFileLine& rule) {
  std::fprintf(file, "%d %zu", rule.preorder, rule.items.size());
  for (const int32_t item : rule.items) std::fprintf(file, " %d", item);
  std::fprintf(file, " %d %d %.17g %.17g %.17g %.17g\n", rule.support, rule.class_support,
               rule.confidence, rule.pvalue, rule.max_local_pvalue, rule.lift);
}
