#include "run/shell.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool isSafeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c == ',' || c == ':' ||
         c == '@' || c == '%' || c == '=';
}

}  // namespace

int runShell(const std::string& command) {
  // Whatever we buffered must reach the terminal before the child writes.
  std::fflush(nullptr);
  return std::system(command.c_str());
}

std::string shellQuote(std::string_view argument) {
  bool safe = !argument.empty();
  for (char c : argument) safe = safe && isSafeChar(c);
  // A leading '-' or '=' is fine for our commands; '~' never is, and is not in the set.
  if (safe) return std::string(argument);
  std::string quoted = "'";
  for (char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}
