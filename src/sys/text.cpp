#include "sys/text.h"

#include <cstdarg>
#include <cstdio>

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string lastComponent(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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
