#include "sys/file_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

// Opened without blocking, kept only when it is a regular file.
FdHolder openRegular(const std::string& path, int* error) {
  FdHolder fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
    if (error) *error = errno;
    return FdHolder();
  }
  if (!S_ISREG(info.st_mode)) {
    if (error) *error = EINVAL;
    return FdHolder();
  }
  return fd;
}

}  // namespace

std::optional<std::string> readWholeDescriptor(int fd, int* error) {
  std::string text;
  std::array<char, 65536> chunk{};
  for (;;) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = errno;
      return std::nullopt;
    }
    if (n == 0) return text;
    text.append(chunk.data(), static_cast<size_t>(n));
  }
}

std::optional<std::string> readWholeFile(const std::string& path, int* error) {
  FdHolder fd = openRegular(path, error);
  if (fd.get() < 0) return std::nullopt;
  return readWholeDescriptor(fd.get(), error);
}

FilePtr openRegularFile(const std::string& path) {
  FdHolder fd = openRegular(path, nullptr);
  if (fd.get() < 0) return nullptr;
  FilePtr file(::fdopen(fd.get(), "r"));
  if (file) fd.release();
  return file;
}
