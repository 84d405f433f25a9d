// The link between the experiment driver and the miner it starts: the read
// end of a pipe whose write end only the driver holds, named to the miner by
// the environment variable kDriverLinkVariable ("VARNEL_DRIVER_FD=<fd>"). The
// pipe ends when the driver does, however it ends, so the miner can tell that
// nobody will read its files any more: it then leaves them under their
// temporary names, and a later experiment's files stay its own.
#pragma once

#include <string>

inline constexpr const char* kDriverLinkVariable = "VARNEL_DRIVER_FD";

// The miner's exit status when one of its errors was a failure of the system
// (a write that failed, memory that ran out, a driver gone): the same run may
// succeed another time. Any other error gives 1. (75 is EX_TEMPFAIL.)
inline constexpr int kMinerSystemFailure = 75;

// "VARNEL_DRIVER_FD=<read_end>", for the miner's environment.
std::string driver_link_setting(int read_end);

// Whether the miner was started by a driver that has ended since: false when
// no link was given (the miner run by hand, or by a script) or when the
// descriptor it names is no pipe.
bool driver_gone();
