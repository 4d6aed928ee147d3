#include "install/generated_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "install/fs_helpers.h"

namespace {

bool writeAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool writeGeneratedFile(const std::string& path, const std::string& content) {
  // Truncated only once opened, so that a planted link is never followed.
  FdHolder fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.get() < 0) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (::ftruncate(fd.get(), 0) != 0) return false;
  if (!writeAll(fd.get(), content)) return false;
  return ::close(fd.release()) == 0;
}

void setGeneratedFileAccess(const std::string& path, int mode, int uid, int gid) {
  FdHolder fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return;
  (void)::fchmod(fd.get(), static_cast<mode_t>(mode));
  (void)::fchown(fd.get(), static_cast<uid_t>(uid), static_cast<gid_t>(gid));
}

std::optional<std::string> readWholeFile(const std::string& path) {
  // Non-blocking, so that a FIFO planted at the path cannot stall the run.
  FdHolder fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string text;
  std::array<char, 4096> chunk{};
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    text.append(chunk.data(), static_cast<size_t>(n));
  }
}
