// The locks of one experiment: the working directory's, since experiments
// there share the parameter file and the result files, and the split parts',
// beside the data set, since experiments on one data set from several folders
// share the parts. The miner holds them too while it runs (miner_run.h).
#pragma once

#include <string>

struct ExperimentLocks {
  int directory = -1;    // descriptor of the lock on kDirectoryLockFile, or -1
  int split_parts = -1;  // descriptor of the lock on split_lock_file(dataset), or -1
};

// Takes the working directory's lock, then the lock of the parts of
// `dataset_name`, always in this order, so two experiments never wait for
// each other at once. Each waits while another experiment holds it and says
// so once with a "Warning: " line; a lock file that cannot be made gets a
// "Warning: " line, and the experiment runs without that lock.
ExperimentLocks take_experiment_locks(const std::string& dataset_name);

// Releases one lock (its descriptor becomes -1); nothing when it is -1.
void release_lock(int& lock);
