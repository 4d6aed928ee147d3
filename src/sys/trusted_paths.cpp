#include "sys/trusted_paths.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "sys/safe_dirs.h"

namespace {

bool isRootOnlyDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && isRootOnly(info);
}

// Every directory from the root down to the path itself (links followed).
bool directoriesTrusted(const std::string& dir) {
  if (!isRootOnlyDirectory("/")) return false;
  for (size_t at = 1; at < dir.size();) {
    size_t slash = dir.find('/', at);
    if (slash == std::string::npos) slash = dir.size();
    if (!isRootOnlyDirectory(dir.substr(0, slash))) return false;
    at = slash + 1;
  }
  return true;
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string resolved(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? real.get() : "";
}

}  // namespace

bool isTrustedDirectory(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  std::string real = resolved(path);
  return !real.empty() && directoriesTrusted(path) && directoriesTrusted(real);
}

bool isTrustedFile(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  std::string real = resolved(path);
  struct stat info {};
  if (real.empty() || ::stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !isRootOnly(info))
    return false;
  return isTrustedDirectory(parentOf(path)) && directoriesTrusted(parentOf(real));
}
