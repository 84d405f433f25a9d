// Jobs off the Python thread, and Ctrl-C turned into the library's stop flag.
#include "job.h"

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace py = pybind11;

namespace {

// How often the waiting thread looks for a signal: Ctrl-C stops a job within
// this and the time the job takes to see its flag.
constexpr std::chrono::milliseconds kSignalPoll{100};

}  // namespace

ReportedLines run_job(const std::function<void(const std::atomic<bool>& stop)>& job) {
  ReportedLines log;
  log.quiet = true;
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool interrupted = false;
  std::exception_ptr failure;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      {
        MessageScope scope(log);
        try {
          job(stop);
        } catch (...) {
          failure = std::current_exception();
        }
      }
      const std::lock_guard<std::mutex> lock(mutex);
      done = true;
      finished.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, kSignalPoll, [&] { return done; })) {
      if (interrupted) continue;
      lock.unlock();
      {
        py::gil_scoped_acquire acquire;
        // Leaves the handler's exception set for the throw below.
        interrupted = PyErr_CheckSignals() != 0;
      }
      if (interrupted) stop = true;
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
  return log;
}
