#include "sys/temp_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "sys/paths.h"
#include "sys/text.h"

namespace {

FilePtr readerOf(FdHolder& fd) {
  FilePtr file(::fdopen(fd.get(), "r"));
  if (file) fd.release();
  return file;
}

// A leftover of an earlier run of ours: a plain file or link owned by root.
bool isOursToReplace(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return info.st_uid == ::geteuid() && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode));
}

}  // namespace

bool makeTempFile(const std::string& dir, const std::string& prefix, const std::string& suffix, TempFile& temp) {
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

FilePtr createOwnFile(const std::string& fixedPath, std::string& path) {
  if (isOursToReplace(fixedPath)) ::unlink(fixedPath.c_str());
  FdHolder fd(::open(fixedPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() >= 0) {
    path = fixedPath;
    return readerOf(fd);
  }
  TempFile temp;
  if (!makeTempFile(directoryOf(fixedPath), lastComponent(fixedPath) + ".", "", temp)) return nullptr;
  path = temp.path;
  return readerOf(temp.fd);
}
