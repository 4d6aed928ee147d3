#include "install/install_dir.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <vector>

#include "install/info_file.h"
#include "sys/dir_listing.h"
#include "sys/paths.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"
#include "sys/trusted_paths.h"

namespace {

// Standard top-level directories: they and everything directly below them
// belong to the system (a new top-level directory does not).
const std::set<std::string> kSystemTops = {"usr",   "var",    "etc",  "bin", "sbin", "lib",  "lib32", "lib64",
                                           "libx32", "boot", "dev", "proc", "sys", "run", "root", "tmp"};
// Standard top-level directories that are shared, not the system's alone.
const std::set<std::string> kSharedTops = {"opt", "srv", "home", "mnt", "media", "snap", "lost+found"};
// Standard directories one level further down.
const std::set<std::string> kSystemThirdLevel = {
    "usr/local/bin",   "usr/local/sbin",    "usr/local/lib",   "usr/local/lib64", "usr/local/share",
    "usr/local/etc",   "usr/local/include", "usr/local/src",   "usr/local/man",   "usr/local/libexec",
    "usr/local/games", "usr/share/doc",     "usr/share/man",   "usr/share/info",  "usr/share/locale",
    "usr/share/ppd",   "usr/share/cups",    "usr/lib/cups",    "usr/lib/x86_64-linux-gnu",
    "var/lib/dpkg",    "var/lib/apt",       "var/lib/cups",    "var/spool/cups",  "var/cache/cups",
    "var/cache/apt"};

// Trees of the system and of the print system: no directory at any depth below them is the product's.
const std::vector<std::string> kSystemTrees = {
    "/etc",       "/boot",     "/dev",      "/proc",           "/sys",           "/var/lib",
    "/var/spool", "/var/cache", "/var/log", "/var/run",        "/usr/lib",       "/usr/lib64",   "/usr/lib32",
    "/usr/libexec", "/usr/bin", "/usr/sbin", "/usr/share/cups", "/usr/share/ppd", "/usr/include", "/root/.ssh"};

std::vector<std::string> componentsOf(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t at = 1; at < path.size();) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

// The path as given, made absolute and tidied but with its links unresolved.
std::string literalPath(const std::string& dir, const std::string& base) {
  std::filesystem::path absolute = dir.front() == '/' ? std::filesystem::path(dir) : std::filesystem::path(base) / dir;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The nearest directory along the path that exists (the path itself, or one above).
std::string nearestExisting(std::string path) {
  while (path.size() > 1 && !pathExists(path)) {
    size_t slash = path.rfind('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return path;
}

bool holdsRootsInstallation(const std::string& dir) {
  for (UpdateKind kind : {UpdateKind::Current, UpdateKind::FromOlder}) {
    if (isRootsInfoFile(infoFilePath(dir, kind))) return true;
  }
  return false;
}

bool isEmpty(const std::string& dir) { return listDirectory(dir).empty(); }

bool isEmptyAndRootOnly(const std::string& dir) {
  std::optional<SafeDir> handle = SafeDir::open(dir);
  struct stat info {};
  return handle && ::fstat(handle->fd(), &info) == 0 && isRootOnly(info) && listDirectoryAt(handle->fd()).empty();
}

}  // namespace

bool isSystemDirectory(const std::string& canonical) {
  for (const std::string& tree : kSystemTrees) {
    if (isAtOrBelow(canonical, tree)) return true;
  }
  std::vector<std::string> parts = componentsOf(canonical);
  if (parts.empty()) return true;
  if (parts.size() == 1) return kSystemTops.count(parts[0]) > 0 || kSharedTops.count(parts[0]) > 0;
  if (parts.size() == 2) return kSystemTops.count(parts[0]) > 0;
  if (parts.size() == 3) return kSystemThirdLevel.count(parts[0] + "/" + parts[1] + "/" + parts[2]) > 0;
  return false;
}

InstallDirVerdict checkInstallDir(const std::string& dir, const std::string& base, const std::string& sourceDir,
                                  const std::string& recordedDir) {
  if (dir.empty()) return {dir, InstallDirRefusal::Empty, false};
  std::string canonical = canonicalPath(dir, base).value_or(dir);
  std::string literal = literalPath(dir, base);
  InstallDirVerdict verdict{canonical, InstallDirRefusal::None, pathExists(canonical)};
  bool inPlace = !sourceDir.empty() && canonical == canonicalPath(sourceDir, base).value_or(sourceDir);
  // Who could change the directory: those who may write a directory above
  // it, as it is named, or it itself when it is new or empty.
  std::string above = nearestExisting(verdict.exists ? directoryOf(literal) : literal);
  bool product = canonical == recordedDir || holdsRootsInstallation(canonical);
  if (isSystemDirectory(canonical)) {
    verdict.refusal = InstallDirRefusal::System;
  } else if (inPlace) {
    return verdict;
  } else if (!isTrustedDirectory(above)) {
    verdict.refusal = InstallDirRefusal::NotRootOnly;
  } else if (verdict.exists && !isDirectory(canonical)) {
    verdict.refusal = InstallDirRefusal::NotADirectory;
  } else if (verdict.exists && !product && !isEmptyAndRootOnly(canonical)) {
    verdict.refusal = isEmpty(canonical) ? InstallDirRefusal::NotRootOnly : InstallDirRefusal::NotTheProducts;
  }
  return verdict;
}
