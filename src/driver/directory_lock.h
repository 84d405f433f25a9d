// One experiment at a time per working directory: experiments share
// the parameter file and the split files, so a second one waits for the first.
#pragma once

// Takes the directory's experiment lock, waiting (and saying so once) while
// another experiment holds it. Returns the descriptor to release, or -1 when
// no lock file can be made (the experiment then runs unlocked, after a
// "Warning: " line).
int lock_working_directory();

void unlock_working_directory(int lock);
