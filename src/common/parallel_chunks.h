// Independent work over the indices 0 .. count - 1 on several threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// Calls work(begin, end) for consecutive runs of at most `chunk` indices
// that together cover [0, count), each run on one thread, on up to `threads`
// threads at once, the caller's among them: a thread takes the next run as
// it finishes one, so runs of uneven cost spread evenly. `work` must not
// report messages (they belong to the caller's thread). Memory that runs out
// in any thread is thrown here, once every thread has ended.
template <typename Work>
void parallel_chunks(size_t count, size_t chunk, int threads, const Work& work) {
  chunk = std::max<size_t>(chunk, 1);
  std::atomic<size_t> next{0};
  std::atomic<bool> out_of_memory{false};
  auto run = [&] {
    try {
      for (size_t begin; (begin = next.fetch_add(chunk)) < count;)
        work(begin, std::min(count, begin + chunk));
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
      next = count;  // the others stop after their run
    }
  };
  const size_t runs = (count + chunk - 1) / chunk;
  const size_t helpers = std::min(static_cast<size_t>(std::max(threads, 1)), runs) - (runs > 0);
  std::vector<std::thread> running;
  try {
    for (size_t h = 0; h < helpers; ++h) running.emplace_back(run);
  } catch (const std::system_error&) {
    // Fewer threads: the ones running take every run.
  }
  run();
  for (std::thread& helper : running) helper.join();
  if (out_of_memory) throw std::bad_alloc();
}
