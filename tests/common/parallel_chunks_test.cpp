// Work split into runs over threads: every index once, in runs no longer
// than asked, and memory that runs out in any thread reaches the caller.
#include "common/parallel_chunks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

TEST(ParallelChunks, EveryIndexOnceInRunsOfAtMostTheChunk) {
  for (size_t count : {0, 1, 5, 1000, 1001}) {
    for (size_t chunk : {0, 1, 7, 512}) {
      for (int threads : {0, 1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << count << " " << chunk << " " << threads);
        const auto visits = std::make_unique<std::atomic<int>[]>(count + 1);
        std::atomic<bool> too_long{false};
        parallel_chunks(count, chunk, threads, [&](size_t begin, size_t end) {
          if (begin >= end || end - begin > std::max<size_t>(chunk, 1)) too_long = true;
          for (size_t i = begin; i < end; ++i) ++visits[i];
        });
        EXPECT_FALSE(too_long);
        for (size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i], 1) << i;
      }
    }
  }
}

TEST(ParallelChunks, MemoryRunningOutInAnyThreadIsThrownOnceAllHaveEnded) {
  for (int threads : {1, 3}) {
    std::atomic<int> running{0};
    EXPECT_THROW(parallel_chunks(100, 1, threads,
                                 [&](size_t begin, size_t) {
                                   ++running;
                                   if (begin == 42) throw std::bad_alloc();
                                   --running;
                                 }),
                 std::bad_alloc);
    // Only the run that threw is left counted: no thread still works.
    EXPECT_EQ(running, 1);
  }
}
