#include "sys/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

bool pathExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

int isDirectory(const std::string& path) {
  if (::access(path.c_str(), F_OK) != 0) return 0;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return S_ISDIR(info.st_mode) ? 1 : 0;
}

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> canonicalPath(const std::string& path, const std::string& cwd) {
  if (path.empty()) return std::nullopt;
  namespace fs = std::filesystem;
  fs::path absolute = path.front() == '/' ? fs::path(path) : fs::path(cwd) / path;
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(absolute, error);
  if (error) canonical = absolute.lexically_normal();
  std::string text = canonical.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}
