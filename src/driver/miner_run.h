// Runs the rule miner: writes its parameter file kParameterFile and starts it.
#pragma once

#include <string>

#include "minerio/miner_params.h"

// Writes the parameter file for `params`, prints the command line and runs
// the miner, returning once it has finished: true when it exited with status
// 0. The miner prints its own messages on the same console; a failure
// reaches the caller as an error line of our own: "Error: the miner %s was
// killed by signal %d", or "Error: the miner %s exited with status %d" for a
// non-zero status (the miner exits 1 after any error line of its own). The
// miner is started without a shell. A name or value holding a line break,
// which would add lines to the parameter file, is reported and the miner is
// not run.
bool run_miner(const MinerParams& params);

// The miner to start: "./Brimel" when the working directory holds an
// executable of that name, else "Brimel" in `program_dir` when that is
// executable, else "./Brimel" again (whose start then fails visibly).
std::string find_miner_executable(const std::string& program_dir);

// The command line shown for `miner_path`: the path, single-quoted for a
// shell unless it is "./Brimel", then a blank, the parameter file's name and a
// line feed.
std::string miner_command_line(const std::string& miner_path);
