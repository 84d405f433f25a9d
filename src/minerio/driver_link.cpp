// The driver's end of the link is written nowhere; the miner polls its end.
#include "minerio/driver_link.h"

#include <poll.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

std::string driver_link_setting(int read_end) {
  return std::string(kDriverLinkVariable) + "=" + std::to_string(read_end);
}

bool driver_gone() {
  const char* text = std::getenv(kDriverLinkVariable);
  if (text == nullptr) return false;
  const char* end = text + std::strlen(text);
  int fd = -1;
  const auto [stop, error] = std::from_chars(text, end, fd);
  if (error != std::errc() || stop != end || fd < 0) return false;
  // A descriptor closed on the way, and its number taken again, is no link.
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return false;
  pollfd link{fd, POLLIN, 0};
  if (poll(&link, 1, 0) < 0) return false;
  // The driver never writes: the only event is the end of its write end.
  return (link.revents & (POLLHUP | POLLERR)) != 0;
}
