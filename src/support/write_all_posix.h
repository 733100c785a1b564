// Writing a whole buffer to a file descriptor, for the POSIX builds.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

namespace sorrel {

// Writes every byte, going on after a write cut short or interrupted by a
// signal. False when a write fails; some bytes may then have been written.
inline bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace sorrel
