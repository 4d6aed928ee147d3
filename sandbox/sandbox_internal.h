// Helpers shared by the parts of the sandboxed host; not for the hosts' users.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "sandbox/sandbox_host.h"

namespace sandbox_internal {

constexpr const char* kNsenter = "/usr/bin/nsenter";
constexpr const char* kDefaultPath = "/usr/sbin:/usr/bin:/sbin:/bin";

[[noreturn]] void throwError(const std::string& what);
[[noreturn]] void throwErrno(const std::string& what);

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

Pipe makePipe();
void setNonBlocking(int fd);
void writeAll(int fd, const std::string& data);
std::string readAll(int fd);
// Children of a test process must not hold its other descriptors (pipes of
// other hosts would never see end of file).
void closeDescriptorsExcept(std::vector<int> keep);
std::string octal(mode_t mode);

// Runs a command on the machine side and collects its output; throws past the timeout.
SandboxResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input, std::chrono::seconds timeout);

}  // namespace sandbox_internal

// One path of the upper layer as a snapshot saw it.
struct SandboxHost::Entry {
  struct stat info {};
  bool opaque = false;

  bool whiteout() const { return S_ISCHR(info.st_mode) && info.st_rdev == makedev(0, 0); }
  bool directory() const { return S_ISDIR(info.st_mode); }
};
