#include "sys/text.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace {

// Letters a to z only, as in the "C" locale, whatever the terminal's locale is.
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::optional<size_t> findIgnoringCase(std::string_view text, std::string_view part) {
  auto it = std::search(text.begin(), text.end(), part.begin(), part.end(),
                        [](char a, char b) { return lower(a) == lower(b); });
  if (it == text.end() && !part.empty()) return std::nullopt;
  return static_cast<size_t>(it - text.begin());
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && findIgnoringCase(a, b) == 0;
}

std::string lowerCase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

void trimLineEnd(std::string& text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
}

std::string_view withoutLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

std::string lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string joinPath(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool isAtOrBelow(const std::string& path, const std::string& dir) {
  if (dir == "/") return !path.empty() && path.front() == '/';
  return path == dir || (path.size() > dir.size() && path.starts_with(dir) && path[dir.size()] == '/');
}

std::string formatTextV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (size > 0) {
    out.resize(static_cast<size_t>(size) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(size));
  }
  return out;
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = formatTextV(format, args);
  va_end(args);
  return out;
}
