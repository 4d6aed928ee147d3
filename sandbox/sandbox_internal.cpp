// Errors, descriptors and pipe I/O shared by the parts of the sandboxed host.
#include "sandbox/sandbox_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace sandbox_internal {

void throwError(const std::string& what) { throw std::runtime_error("sandbox host: " + what); }

void throwErrno(const std::string& what) { throwError(what + ": " + std::strerror(errno)); }

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

Pipe makePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throwErrno("pipe");
  return {Fd(fds[0]), Fd(fds[1])};
}

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string readAll(int fd) {
  std::string data;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return data;
    data.append(buffer, static_cast<size_t>(n));
  }
}

void closeDescriptorsExcept(std::vector<int> keep) {
  keep.push_back(STDERR_FILENO);
  std::sort(keep.begin(), keep.end());
  unsigned first = STDERR_FILENO + 1;
  for (int fd : keep) {
    if (fd < static_cast<int>(first)) continue;
    if (static_cast<unsigned>(fd) > first) ::close_range(first, static_cast<unsigned>(fd) - 1, 0);
    first = static_cast<unsigned>(fd) + 1;
  }
  ::close_range(first, ~0U, 0);
}

std::string octal(mode_t mode) {
  std::ostringstream text;
  text << std::oct << (mode & 07777);
  return text.str();
}

}  // namespace sandbox_internal
