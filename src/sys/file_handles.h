// Owned handles of open files, directories and descriptors, closed when they
// go out of scope.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <utility>

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// An owned file descriptor.
class FdHolder {
 public:
  explicit FdHolder(int fd = -1) : fd_(fd) {}
  ~FdHolder() { reset(); }
  FdHolder(FdHolder&& other) noexcept : fd_(other.release()) {}
  FdHolder& operator=(FdHolder&& other) noexcept {
    reset(other.release());
    return *this;
  }
  FdHolder(const FdHolder&) = delete;
  FdHolder& operator=(const FdHolder&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};
