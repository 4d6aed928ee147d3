#include "discovery/command_locator.h"

#include <unistd.h>

#include <array>

#include "run/run_settings.h"

namespace {

constexpr std::array kSystemDirs = {
    "/usr/bin/", "/usr/sbin/", "/usr/ucb/", "/bin/", "/sbin/", "/usr/bsd/",
    "/etc/", "/usr/etc/", "/usr/lib/", "/lib/", "/usr/local/bin/", "/usr/freeware/bin/",
};
constexpr std::array kCupsSubdirs = {"/bin/", "/sbin/", "/etc/", "/lib/"};

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::optional<std::string> firstUnderPrefix(const std::string& prefix, std::string_view name) {
  for (const char* sub : kCupsSubdirs) {
    std::string candidate = prefix + sub + std::string(name);
    if (exists(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> findCommand(std::string_view name) {
  for (const char* dir : kSystemDirs) {
    std::string candidate = dir + std::string(name);
    if (exists(candidate)) return candidate;
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

std::string commandOrName(std::string_view name) {
  return findCommand(name).value_or(std::string(name));
}
