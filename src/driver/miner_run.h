// Runs the rule miner: writes its parameter file kParameterFile and starts it.
#pragma once

#include <string>

#include "driver/experiment_locks.h"
#include "minerio/miner_params.h"

// The environment variable that bounds the miner's run, in seconds (a number
// above 0; unset or empty: no bound).
inline constexpr const char* kMinerTimeoutVariable = "VARNEL_MINER_TIMEOUT";

// What the experiment shares with the miner's process beyond its files.
struct MinerContext {
  // The experiment's locks: the miner holds them too, so that no other
  // experiment takes them while a miner of this one still runs.
  ExperimentLocks locks;
  // SIGINT, SIGTERM or SIGHUP when one reached the driver while the miner
  // ran: it was passed on to the miner, and the experiment stops.
  int stop_signal = 0;
};

// Writes the parameter file for `params`, prints the command line and runs
// the miner at `miner_path`, returning once it has ended: true when it exited
// with status 0. The miner prints its own messages on the same console; a
// failure reaches the caller as an error line of our own: "Error: the miner
// %s was killed by signal %d", or "Error: the miner %s exited with status %d"
// for a non-zero status (the miner exits 1 after any error line of its own,
// kMinerSystemFailure when one of them was a failure of the system; that
// status and a signal are errors of the system here too). The miner is
// started without a shell and ends with the driver: it gets SIGKILL when the
// driver ends first, SIGINT, SIGTERM and SIGHUP that reach the driver are
// passed on to it (and set context.stop_signal), and with
// kMinerTimeoutVariable set it is killed once that many seconds have passed.
// A name or value holding a line break, which would add lines to the
// parameter file, is reported and the miner is not run.
bool run_miner(const MinerParams& params, const std::string& miner_path, MinerContext& context);

// The miner to start: "Brimel" in `program_dir` when that is executable, else
// "./Brimel" (whose start fails visibly when it is not there either). The
// installed one comes first: a working directory that others may write to
// must not decide what runs.
std::string find_miner_executable(const std::string& program_dir);

// The folder of the running program, empty when it cannot be told.
std::string running_program_dir();

// The command line shown for `miner_path`: the path, single-quoted for a
// shell unless it is "./Brimel", then a blank, the parameter file's name and a
// line feed.
std::string miner_command_line(const std::string& miner_path);
