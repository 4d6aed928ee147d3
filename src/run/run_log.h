// The run log under /var/log, and the emission of catalogue messages.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "run/message_catalogue.h"

constexpr const char* kLogSeparator = "=======================================";

// Writes one line (adding a missing final newline) to the log, or to standard
// error when no log is open, and flushes. Always returns 1.
int logMessage(std::string_view text);
// Opens (truncates) the log named in the run settings; 1 when opened.
int openLog(int uid);
// Writes the closing line and closes the log.
void closeLog();
// Writes text to the open log without a flush; nothing when no log is open.
void writeLogRaw(std::string_view text);

// printf-style formatting into a string of any length.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Same, for a runtime format (a catalogue text); the caller passes C values.
std::string formatRuntime(const char* format, ...);

namespace detail {
inline const char* cArg(const std::string& s) { return s.c_str(); }
inline const char* cArg(const char* s) { return s; }
template <class T>
  requires std::is_arithmetic_v<T>
T cArg(T v) { return v; }
}  // namespace detail

// Message n formatted with its arguments.
template <class... Args>
std::string formatMessage(int n, const Args&... args) {
  return formatRuntime(messageText(n), detail::cArg(args)...);
}

// The emission rule: a text is logged only when it is not empty.
inline void logIfAny(const std::string& text) {
  if (!text.empty()) logMessage(text);
}

// Formats message n and logs it when the result is not empty.
template <class... Args>
void logMsg(int n, const Args&... args) {
  logIfAny(formatMessage(n, args...));
}

// Writes text to standard error as it stands, flushed.
void writeStderr(std::string_view text);
