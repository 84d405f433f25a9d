// A job of the library run for Python: on a thread of its own with a quiet
// log of its own, while the calling thread waits without the GIL and looks
// for Ctrl-C.
#pragma once

#include <atomic>
#include <functional>

#include "common/messages.h"

// Runs `job(stop)` on a new thread that opens a quiet log (common/messages.h)
// for it; the caller waits with the GIL released, taking it ten times a
// second to run Python's signal handlers. When a handler raises (Ctrl-C's
// KeyboardInterrupt), sets `stop`, waits for the job to return and throws
// that exception on; an exception of the job (std::bad_alloc) is thrown on
// too. Otherwise returns the job's log: its error and warning lines.
// Another Python thread may run meanwhile, and may run a job of its own.
ReportedLines run_job(const std::function<void(const std::atomic<bool>& stop)>& job);
