#include "sys/safe_dirs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sys/dir_listing.h"
#include "sys/text.h"

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string joined(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

// Why an entry could not be entered as a directory.
std::string refusal(int dirFd, const std::string& name, const std::string& path, int error) {
  switch (entryType(dirFd, name)) {
    case EntryType::Link: return "'" + path + "' is a symbolic link where a directory was expected; left alone";
    case EntryType::Missing: return "'" + path + "' does not exist";
    case EntryType::Directory: return "'" + path + "' cannot be opened: " + std::strerror(error);
    default: return "'" + path + "' is not a directory; left alone";
  }
}

void setWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

bool isSingleComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

EntryType entryType(int dirFd, const std::string& name, struct stat* info) {
  struct stat own {};
  if (::fstatat(dirFd, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) return EntryType::Missing;
  if (info) *info = own;
  if (S_ISREG(own.st_mode)) return EntryType::Regular;
  if (S_ISDIR(own.st_mode)) return EntryType::Directory;
  if (S_ISLNK(own.st_mode)) return EntryType::Link;
  return EntryType::Other;
}

std::optional<SafeDir> SafeDir::open(const std::string& absolutePath, std::string* why) {
  if (absolutePath.empty() || absolutePath.front() != '/') {
    setWhy(why, "'" + absolutePath + "' is not an absolute path");
    return std::nullopt;
  }
  FdHolder root(::open("/", kDirFlags));
  if (root.get() < 0) {
    setWhy(why, std::string("'/' cannot be opened: ") + std::strerror(errno));
    return std::nullopt;
  }
  return SafeDir(std::move(root), "/").below(absolutePath.substr(1), std::nullopt, why);
}

std::string SafeDir::pathOf(const std::string& name) const { return joined(path_, name); }

std::optional<SafeDir> SafeDir::child(const std::string& name, std::string* why) const {
  if (!isSingleComponent(name)) {
    setWhy(why, "'" + name + "' is not a single path component below '" + path_ + "'");
    return std::nullopt;
  }
  FdHolder fd(::openat(fd_.get(), name.c_str(), kDirFlags));
  if (fd.get() < 0) {
    setWhy(why, refusal(fd_.get(), name, pathOf(name), errno));
    return std::nullopt;
  }
  return SafeDir(std::move(fd), pathOf(name));
}

std::optional<SafeDir> SafeDir::childOrCreate(const std::string& name, mode_t mode, bool* created,
                                              std::string* why) const {
  if (created) *created = false;
  if (isSingleComponent(name) && ::mkdirat(fd_.get(), name.c_str(), mode) == 0) {
    if (created) *created = true;
    std::optional<SafeDir> made = child(name, why);
    // mkdir is subject to the umask; the mode asked for is the mode wanted.
    if (made) ::fchmod(made->fd(), mode);
    return made;
  }
  return child(name, why);
}

std::optional<SafeDir> SafeDir::below(const std::string& relative, std::optional<mode_t> createMode,
                                      std::string* why) const {
  FdHolder start(::openat(fd_.get(), ".", kDirFlags));
  if (start.get() < 0) {
    setWhy(why, "'" + path_ + "' cannot be opened: " + std::strerror(errno));
    return std::nullopt;
  }
  SafeDir current(std::move(start), path_);
  size_t at = 0;
  while (at <= relative.size()) {
    size_t slash = relative.find('/', at);
    if (slash == std::string::npos) slash = relative.size();
    std::string name = relative.substr(at, slash - at);
    at = slash + 1;
    if (name.empty() || name == ".") continue;
    std::optional<SafeDir> next =
        createMode ? current.childOrCreate(name, *createMode, nullptr, why) : current.child(name, why);
    if (!next) return std::nullopt;
    current = std::move(*next);
  }
  return current;
}

bool removeFileAt(const SafeDir& dir, const std::string& name, std::string* why) {
  EntryType type = entryType(dir.fd(), name);
  if (type != EntryType::Regular && type != EntryType::Link) {
    if (type != EntryType::Missing) setWhy(why, "'" + dir.pathOf(name) + "' is not a file; left alone");
    return false;
  }
  if (::unlinkat(dir.fd(), name.c_str(), 0) == 0) return true;
  setWhy(why, "'" + dir.pathOf(name) + "' cannot be removed: " + std::strerror(errno));
  return false;
}

namespace {

void emptyDirectory(const SafeDir& dir) {
  for (const std::string& name : listDirectoryAt(dir.fd())) {
    switch (entryType(dir.fd(), name)) {
      case EntryType::Directory: removeTreeAt(dir, name); break;
      case EntryType::Regular:
      case EntryType::Link: ::unlinkat(dir.fd(), name.c_str(), 0); break;
      default: break;  // fifos, sockets and devices stay
    }
  }
}

}  // namespace

int removeTreeAt(const SafeDir& dir, const std::string& name, std::string* why) {
  std::optional<SafeDir> tree = dir.child(name, why);
  if (!tree) return -1;
  emptyDirectory(*tree);
  if (::unlinkat(dir.fd(), name.c_str(), AT_REMOVEDIR) == 0) return 0;
  setWhy(why, "'" + dir.pathOf(name) + "' cannot be removed: " + std::strerror(errno));
  return -1;
}
