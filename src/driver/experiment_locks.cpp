// The experiment's locks, each an flock on a file of its own; the kernel
// drops a lock when the last process that holds it ends, however it ends.
#include "driver/experiment_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/messages.h"
#include "common/run_files.h"

namespace {

// Takes the lock on `path`, waiting while another holds it; `waiting` names
// what the other experiment is doing, `apart` what is not kept apart when
// there can be no lock. Returns the descriptor, or -1.
int take_lock(const std::string& path, const char* waiting, const char* apart) {
  const int lock = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) {
    // Files already there may still be written, so a second experiment
    // could run into this one.
    report_warning("cannot create the lock file %s; %s are not kept apart", path.c_str(), apart);
    return -1;
  }
  if (flock(lock, LOCK_EX | LOCK_NB) == 0) return lock;
  report_warning("%s; waiting for it to finish", waiting);
  std::fflush(stdout);
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) break;
  }
  return lock;
}

}  // namespace

ExperimentLocks take_experiment_locks(const std::string& dataset_name) {
  ExperimentLocks locks;
  // Kept word for word: scripts may match it.
  locks.directory = take_lock(kDirectoryLockFile, "another experiment is running in this directory",
                              "experiments in this directory");
  const std::string parts = mining_part_base(dataset_name) + " and " + test_part_base(dataset_name);
  locks.split_parts = take_lock(split_lock_file(dataset_name),
                                ("another experiment is using the split parts " + parts).c_str(),
                                ("experiments on the split parts " + parts).c_str());
  return locks;
}

void release_lock(int& lock) {
  if (lock >= 0) close(lock);
  lock = -1;
}
