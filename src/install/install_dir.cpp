#include "install/install_dir.h"

#include <array>
#include <set>
#include <vector>

#include "sys/paths.h"

namespace {

// Top-level directories whose every subdirectory belongs to the system.
const std::set<std::string> kSystemTops = {"usr",   "var",    "etc",  "bin", "sbin", "lib", "lib32",
                                           "lib64", "libx32", "boot", "dev", "proc", "sys", "run"};
// Standard directories one level further down.
const std::set<std::string> kSystemThirdLevel = {"usr/local/bin",
                                                 "usr/local/sbin",
                                                 "usr/local/lib",
                                                 "usr/local/lib64",
                                                 "usr/local/share",
                                                 "usr/local/etc",
                                                 "usr/local/include",
                                                 "usr/local/src",
                                                 "usr/local/man",
                                                 "usr/local/libexec",
                                                 "usr/local/games",
                                                 "usr/share/doc",
                                                 "usr/share/man",
                                                 "usr/share/info",
                                                 "usr/share/locale",
                                                 "usr/share/ppd",
                                                 "usr/share/cups",
                                                 "usr/lib/cups",
                                                 "usr/lib/x86_64-linux-gnu",
                                                 "var/lib/dpkg",
                                                 "var/lib/apt",
                                                 "var/lib/cups",
                                                 "var/spool/cups",
                                                 "var/cache/cups",
                                                 "var/cache/apt"};

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

}  // namespace

bool isSystemDirectory(const std::string& canonical) {
  std::vector<std::string> parts = componentsOf(canonical);
  if (parts.size() <= 1) return true;
  if (parts.size() == 2) return kSystemTops.count(parts[0]) > 0;
  if (parts.size() == 3) return kSystemThirdLevel.count(parts[0] + "/" + parts[1] + "/" + parts[2]) > 0;
  return false;
}

InstallDirVerdict checkInstallDir(const std::string& dir, const std::string& base) {
  std::optional<std::string> canonical = canonicalPath(dir, base);
  if (!canonical) return {dir, "an empty installation directory names no place"};
  if (isSystemDirectory(*canonical)) {
    return {*canonical,
            "the installation directory '" + dir + "' is '" + *canonical + "', a directory of the system itself"};
  }
  return {*canonical, ""};
}
