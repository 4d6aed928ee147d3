#include "queues/queue_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "ppd/ppd_directories.h"

namespace {

constexpr size_t kCopyChunk = 40960;

}  // namespace

std::vector<std::string> listDirectory(const std::string& dir) {
  std::vector<std::string> names;
  DirPtr handle(::opendir(dir.c_str()));
  if (!handle) return names;
  while (const dirent* entry = ::readdir(handle.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

FilePtr openRegularFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (!file) ::close(fd);
  return FilePtr(file);
}

std::string temporaryDirectory() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  if (fromEnvironment && isDirectory(fromEnvironment)) return fromEnvironment;
  return "/tmp";
}

bool makeTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix,
                  TempFile& temp) {
  std::string base = dir;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base != "/") base += '/';
  std::string name = base + prefix + "XXXXXX" + suffix;
  std::vector<char> writable(name.begin(), name.end());
  writable.push_back('\0');
  int fd = ::mkostemps(writable.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) return false;
  temp.path = writable.data();
  temp.fd.reset(fd);
  return true;
}

bool writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

off_t fileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

bool replaceWith(const std::string& tempPath, int tempFd, const std::string& target) {
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    // Filters read a queue's PPD as another user: keep who may read it.
    if (::fchown(tempFd, old.st_uid, old.st_gid) != 0) return false;
    if (::fchmod(tempFd, old.st_mode & 07777) != 0) return false;
  }
  if (::fsync(tempFd) != 0) return false;
  return ::rename(tempPath.c_str(), target.c_str()) == 0;
}

bool copyFile(const std::string& source, const std::string& dest) {
  FdHolder in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return false;
  FdHolder out(::open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (out.get() < 0) return false;
  std::vector<char> chunk(kCopyChunk);
  for (;;) {
    ssize_t got = ::read(in.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (!writeAll(out.get(), std::string_view(chunk.data(), static_cast<size_t>(got)))) return false;
  }
  return closeChecked(out);
}

bool closeChecked(FdHolder& fd) { return fd.get() < 0 || ::close(fd.release()) == 0; }

off_t descriptorSize(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return -1;
  return info.st_size;
}
