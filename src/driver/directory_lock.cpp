// The working directory's experiment lock, an flock on "varnel.lock"; the
// kernel drops it when the process ends, however it ends.
#include "driver/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/messages.h"

int lock_working_directory() {
  const int lock = open("varnel.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) {
    // Files already there may still be written, so a second experiment
    // could run into this one.
    report_warning(
        "cannot create the lock file varnel.lock; experiments in this "
        "directory are not kept apart");
    return -1;
  }
  if (flock(lock, LOCK_EX | LOCK_NB) == 0) return lock;
  report_warning(
      "another experiment is running in this directory; waiting for it to "
      "finish");
  std::fflush(stdout);
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) break;
  }
  return lock;
}

void unlock_working_directory(int lock) {
  if (lock >= 0) close(lock);
}
