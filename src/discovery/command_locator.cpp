#include "discovery/command_locator.h"

#include <unistd.h>

#include <array>

#include "services/run_settings.h"
#include "sys/trusted_paths.h"

namespace {

constexpr std::array kSystemDirs = {
    "/usr/bin/", "/usr/sbin/", "/usr/ucb/", "/bin/", "/sbin/",          "/usr/bsd/",
    "/etc/",     "/usr/etc/",  "/usr/lib/", "/lib/", "/usr/local/bin/", "/usr/freeware/bin/",
};
constexpr std::array kCupsSubdirs = {"/bin/", "/sbin/", "/etc/", "/lib/"};

// A candidate counts when it exists and root may safely run it: a program
// that another user could have put or changed there is passed over.
bool usable(const std::string& path) { return ::access(path.c_str(), F_OK) == 0 && isTrustedFile(path); }

std::optional<std::string> firstUnderPrefix(const std::string& prefix, std::string_view name) {
  for (const char* sub : kCupsSubdirs) {
    std::string candidate = prefix + sub + std::string(name);
    if (usable(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> findCommand(std::string_view name) {
  for (const char* dir : kSystemDirs) {
    std::string candidate = dir + std::string(name);
    if (usable(candidate)) return candidate;
  }
  return std::nullopt;
}

std::string findCupsCommand(std::string_view name) {
  const RunSettings& s = runSettings();
  if (s.cupsBinDir.empty()) return findCommand(name).value_or(std::string(name));
  if (auto found = firstUnderPrefix(s.cupsBinDir, name)) return *found;
  if (!s.cupsBaseDir.empty()) {
    if (auto found = firstUnderPrefix(s.cupsBaseDir, name)) return *found;
  }
  return std::string(name);
}

std::string commandOrName(std::string_view name) { return findCommand(name).value_or(std::string(name)); }
