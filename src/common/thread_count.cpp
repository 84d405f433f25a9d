#include "common/thread_count.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "common/messages.h"

int processing_threads() {
  const char* text = std::getenv("BRIMEL_THREADS");
  if (text != nullptr && *text != '\0') {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end == '\0' && value >= 1 && value <= 1024) return static_cast<int>(value);
    report_warning("BRIMEL_THREADS=%s is not a thread count from 1 to 1024; ignored", text);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}
