// Micro-benchmark of the Westfall-Young evaluation (Google Benchmark): the
// permutations, the bit-sliced counts of one cover, and the whole evaluation
// per pattern with 1,000 permutations on the dense bench set (8,000 records,
// seed 17) at minimum support 150 and on the bundled vote data at 20. The
// patterns are enumerated here by a plain depth-first search over bitsets of
// the transactions (one record per transaction), the way the miner's search
// will hand them over: each pattern's counts from its parent's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include <unistd.h>

#include "bench_data.h"
#include "minerio/miner_params.h"
#include "mining_data.h"
#include "permuted_counts.h"
#include "permuted_labels.h"
#include "stats/fisher.h"
#include "westfall_young.h"

namespace {

constexpr int32_t kPermutations = kDefaultPermutations;

// A data set's transactions as bitsets of its frequent items, ascending
// support, and its class.
struct DataSet {
  int32_t min_sup = 0;
  int32_t transactions = 0;
  int32_t positives = 0;
  size_t words = 0;
  std::vector<std::vector<uint64_t>> items;
  std::vector<char> in_class;
};

DataSet load_set(const std::string& base, const std::string& target, const std::string& value,
                 int32_t min_sup) {
  DataSet s;
  s.min_sup = min_sup;
  MiningData data;
  read_mining_data(miner_params_for(base, target, value, min_sup, 0.05, base), data);
  s.transactions = transaction_count(data);
  s.positives = data.positives;
  s.words = (static_cast<size_t>(s.transactions) + 63) / 64;
  std::vector<std::vector<uint64_t>> all(data.item_keys.size(), std::vector<uint64_t>(s.words, 0));
  std::vector<int32_t> support(data.item_keys.size(), 0);
  for (int32_t t = 0; t < s.transactions; ++t) {
    s.in_class.push_back(data.labels[t] == 1);
    for (int64_t k = data.offsets[t]; k < data.offsets[t + 1]; ++k) {
      all[data.items[k]][t / 64] |= uint64_t{1} << (t % 64);
      ++support[data.items[k]];
    }
  }
  std::vector<int32_t> order;
  for (size_t i = 0; i < all.size(); ++i)
    if (support[i] >= min_sup) order.push_back(static_cast<int32_t>(i));
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return support[a] < support[b]; });
  for (const int32_t i : order) s.items.push_back(all[i]);
  return s;
}

// 0: the dense bench set, generated; 1: the bundled vote data.
const DataSet& data_set(int64_t which) {
  static const DataSet dense = [] {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("direct-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string base = (dir / "dense").string();
    write_dense_data(base, 8000, 22, 17);
    DataSet s = load_set(base, "class", "yes", 150);
    std::filesystem::remove_all(dir);
    return s;
  }();
  static const DataSet vote = load_set(VARNEL_EXAMPLES_DIR "/vote", "Class", "1", 20);
  return which == 0 ? dense : vote;
}

// One thread's depth-first search below some of the items.
struct Enumeration {
  const DataSet* set = nullptr;
  const RecordRows* rows = nullptr;  // null: enumerate only
  WestfallYoungWorker* worker = nullptr;
  CountingScratch scratch;
  std::vector<PermutedCounts> counts;  // per depth
  std::vector<std::vector<uint64_t>> covers;
  uint64_t patterns = 0;
};

void expand(Enumeration& e, int depth, int first_item) {
  const DataSet& s = *e.set;
  const std::vector<uint64_t>& cover = e.covers[depth];
  std::vector<uint64_t>& child = e.covers[depth + 1];
  for (size_t i = static_cast<size_t>(first_item); i < s.items.size(); ++i) {
    int32_t support = 0;
    for (size_t w = 0; w < s.words; ++w) {
      child[w] = cover[w] & s.items[i][w];
      support += std::popcount(child[w]);
    }
    if (support < s.min_sup) continue;
    ++e.patterns;
    if (e.rows != nullptr) {
      count_child_cover(*e.rows, CoverWords{cover.data(), s.words}, e.counts[depth], child.data(),
                        support, e.scratch, e.counts[depth + 1]);
      take_pattern(*e.worker, e.counts[depth + 1], *e.rows);
    }
    expand(e, depth + 1, static_cast<int>(i) + 1);
  }
}

// Enumerates the subtrees of the items i with i % stride == offset.
void enumerate(Enumeration& e, int offset, int stride) {
  const DataSet& s = *e.set;
  e.covers.assign(s.items.size() + 2, std::vector<uint64_t>(s.words, 0));
  e.counts.resize(s.items.size() + 2);
  std::vector<uint64_t>& root = e.covers[0];
  std::fill(root.begin(), root.end(), ~uint64_t{0});
  if (s.transactions % 64 != 0) root.back() = (uint64_t{1} << (s.transactions % 64)) - 1;
  if (e.rows != nullptr)
    count_cover(*e.rows, CoverWords{root.data(), s.words}, s.transactions, e.scratch, e.counts[0]);
  for (size_t i = static_cast<size_t>(offset); i < s.items.size();
       i += static_cast<size_t>(stride)) {
    // The item itself, then its extensions.
    std::vector<uint64_t>& item = e.covers[1];
    item = s.items[i];
    int32_t weight = 0;
    for (const uint64_t word : item) weight += std::popcount(word);
    ++e.patterns;
    if (e.rows != nullptr) {
      count_child_cover(*e.rows, CoverWords{root.data(), s.words}, e.counts[0], item.data(), weight,
                        e.scratch, e.counts[1]);
      take_pattern(*e.worker, e.counts[1], *e.rows);
    }
    expand(e, 1, static_cast<int>(i) + 1);
  }
}

void BM_PermuteLabels(benchmark::State& state) {
  const DataSet& s = data_set(0);
  for (auto _ : state) benchmark::DoNotOptimize(permuted_class_rows(s.in_class, kPermutations, 1));
}
BENCHMARK(BM_PermuteLabels)->Unit(benchmark::kMillisecond);

// One cover of state.range(0) records drawn from the 8,000, counted afresh.
void BM_CountCover(benchmark::State& state) {
  const DataSet& s = data_set(0);
  const RecordRows rows = permuted_class_rows(s.in_class, kPermutations, 1);
  std::mt19937 random(3);
  std::vector<std::vector<uint64_t>> covers(16, std::vector<uint64_t>(s.words, 0));
  const auto records = static_cast<int32_t>(state.range(0));
  for (std::vector<uint64_t>& cover : covers)
    for (int32_t k = 0; k < records;) {
      const uint32_t t = random() % static_cast<uint32_t>(s.transactions);
      if (cover[t / 64] >> (t % 64) & 1) continue;
      cover[t / 64] |= uint64_t{1} << (t % 64);
      ++k;
    }
  CountingScratch scratch;
  PermutedCounts counts;
  size_t next = 0;
  for (auto _ : state) {
    count_cover(rows, CoverWords{covers[next++ % covers.size()].data(), s.words}, records, scratch,
                counts);
    benchmark::DoNotOptimize(counts.bits.data());
  }
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(records), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CountCover)->Arg(16)->Arg(128)->Arg(1024)->Arg(8000);

// The enumeration alone, and with the evaluation of every pattern under
// every permutation, of data set state.range(0) on state.range(1) threads;
// per_pattern is the time per pattern enumerated.
void run_set(benchmark::State& state, bool evaluate) {
  const DataSet& s = data_set(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const LogFactorialTable lf = build_log_factorial_table(s.transactions);
  uint64_t patterns = 0;
  double level = 0.0;
  for (auto _ : state) {
    const RecordRows rows = permuted_class_rows(s.in_class, kPermutations, 1);
    WestfallYoungSetup setup;
    start_westfall_young(setup, lf.data(), s.transactions, s.positives, kPermutations, 0.05);
    std::vector<WestfallYoungWorker> workers(static_cast<size_t>(threads));
    std::vector<Enumeration> enumerations(static_cast<size_t>(threads));
    for (int t = 0; t < threads; ++t) {
      start_worker(setup, workers[t]);
      enumerations[t].set = &s;
      enumerations[t].rows = evaluate ? &rows : nullptr;
      enumerations[t].worker = &workers[t];
    }
    // This thread takes the first share, so that one thread's CPU time is measured.
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
      helpers.emplace_back([&, t] { enumerate(enumerations[t], t, threads); });
    enumerate(enumerations[0], 0, threads);
    for (std::thread& helper : helpers) helper.join();
    std::vector<const WestfallYoungWorker*> done;
    for (const WestfallYoungWorker& worker : workers) done.push_back(&worker);
    level = westfall_young_level(setup, done, 0.05).level;
    patterns = 0;
    for (const Enumeration& e : enumerations) patterns += e.patterns;
  }
  state.counters["patterns"] = static_cast<double>(patterns);
  state.counters["level"] = level;
  state.counters["per_pattern"] = benchmark::Counter(
      static_cast<double>(patterns),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_EnumerationOnly(benchmark::State& state) { run_set(state, false); }
void BM_WestfallYoung(benchmark::State& state) { run_set(state, true); }
BENCHMARK(BM_EnumerationOnly)->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WestfallYoung)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
