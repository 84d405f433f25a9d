// Writer of the experiment record, through a JSON library so that every name
// and message is escaped correctly.
#include "driver/experiment_record.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "common/file_open.h"
#include "common/run_files.h"

namespace {

using nlohmann::json;

// Counts that the run could not learn are null, not a made-up zero.
json known(int64_t value) { return value < 0 ? json(nullptr) : json(value); }
// JSON has no infinity (a level corrected over no tests).
json real(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json counts_json(const RuleCountRecord& counts) {
  return json{{"level", real(counts.level)},
              {"corrected_level", real(counts.corrected_level)},
              {"fdr_pvalue", real(counts.fdr_pvalue)},
              {"sig_at_level", counts.sig_at_level},
              {"sig_at_corrected", counts.sig_at_corrected},
              {"sig_at_fdr", counts.sig_at_fdr}};
}

// Whether a failure was the system's (a rerun may succeed) or the data's.
json failure_kind(const ReportedLines& reported) {
  if (reported.errors.empty()) return nullptr;
  return reported.io_errors > 0 ? "io" : "data";
}

}  // namespace

std::string utc_timestamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  gmtime_r(&now, &parts);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buffer;
}

bool write_experiment_record(const std::string& path, const ExperimentRecord& r) {
  const ExperimentOptions& a = r.options;
  json errors = json::array();
  for (const std::string& line : r.reported.errors) errors.push_back(line);
  json miner = counts_json(r.figures.miner.counts);
  miner["patterns_tested"] = known(r.figures.miner.patterns_tested);
  miner["rules_mined"] = r.figures.miner.rules_mined;
  json holdout = counts_json(r.figures.holdout.counts);
  holdout["rules_tested"] = r.figures.holdout.rules_tested;
  holdout["sig_at_holm"] = r.figures.holdout.sig_at_holm;
  holdout["reversed"] = r.figures.holdout.reversed;
  holdout["productive"] = r.figures.holdout.productive;
  holdout["sig_at_bh"] = r.figures.holdout.sig_at_bh;
  holdout["productive_corrected"] = r.figures.holdout.productive_corrected;
  json seconds = json::object();
  for (size_t s = 0; s < kStageCount; ++s) {
    const Stage stage = static_cast<Stage>(s);
    if (stage != Stage::starting) seconds[stage_key(stage)] = r.stage_seconds[s];
  }
  seconds["total"] = r.total_seconds;
  const json record = {
      {"program", "varnel"},
      {"version", VARNEL_VERSION},
      {"started_utc", r.started_utc},
      {"arguments",
       {{"dataset_name", a.dataset_name},
        {"target_attr", a.target_attr},
        {"target_value", a.target_value},
        {"mine_min_sup", a.min_sup},
        {"max_pvalue", a.max_pvalue},
        {"output_name", a.output_name},
        {"mining_share", a.mining_share},
        {"top_k", a.top_k > 0 ? json(a.top_k) : json(nullptr)}}},
      {"seed", r.seed},
      {"settings",
       {{"max_len", kMaxLen}, {"max_local_pvalue", kMaxLocalPvalue}, {"min_diff", kMinDiff}}},
      {"records",
       {{"dataset", r.records.dataset},
        {"stratum_1", r.records.stratum_1},
        {"stratum_other", r.records.stratum_other},
        {"mining_part", r.records.mining_part},
        {"test_part", r.records.test_part}}},
      {"miner", miner},
      {"holdout", holdout},
      {"seconds", seconds},
      {"status", r.reported.errors.empty() ? "ok" : "failed"},
      {"failure", failure_kind(r.reported)},
      {"errors", errors},
      {"warnings", r.reported.warnings}};
  std::FILE* file = open_for_write(path);
  if (file == nullptr) return false;
  // Names and messages may hold bytes that are not UTF-8; they are replaced,
  // so the record stays valid JSON.
  const std::string body = record.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  const bool written = std::fwrite(body.data(), 1, body.size(), file) == body.size();
  if (close_written(file, path, written)) return true;
  // A record cut short must not stay to pass for one.
  std::remove(path.c_str());
  return false;
}
