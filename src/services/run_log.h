// The run log under /var/log, and the emission of catalogue messages. Every
// line the program logs is a message of the catalogue, in its language.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "services/message_catalogue.h"
#include "sys/text.h"

constexpr const char* kLogSeparator = "=======================================";

// Writes one line (adding a missing final newline) to the log, or to standard
// error when no log is open, and flushes. Always returns 1.
int logMessage(std::string_view text);
// Opens (truncates) the log named in the run settings; 1 when opened. Only a
// regular file is taken: a link, fifo or anything else at the path is not.
int openLog(int uid);
// Writes the closing line and closes the log.
void closeLog();
// Writes text to the open log without a flush; nothing when no log is open.
void writeLogRaw(std::string_view text);

// While one lives, the lines logged are kept instead of written (failures
// still reach the report at once); take() hands them over, to be written
// with writeHeldLines where they belong in the log.
class HeldLines {
 public:
  HeldLines();
  ~HeldLines();
  HeldLines(const HeldLines&) = delete;
  HeldLines& operator=(const HeldLines&) = delete;
  std::string take();
  void add(std::string_view lines) { lines_ += lines; }

 private:
  std::string lines_;
  HeldLines* outer_;
};
void writeHeldLines(std::string_view lines);

// printf-style formatting with a format known only at run time (a catalogue
// text); the caller passes C values.
std::string formatRuntime(const char* format, ...);

namespace detail {
// Which C++ values may stand for each argument kind of a message.
template <class Kind, class Arg>
inline constexpr bool kFits = false;
template <class Arg>
inline constexpr bool kFits<arg::Text, Arg> =
    std::is_same_v<Arg, std::string> || std::is_convertible_v<const Arg&, const char*>;
template <class Arg>
inline constexpr bool kFits<arg::Int, Arg> = std::is_integral_v<Arg> && !std::is_same_v<Arg, bool>;
template <class Arg>
inline constexpr bool kFits<arg::Octal, Arg> = std::is_integral_v<Arg> && !std::is_same_v<Arg, bool>;

// The C value that the text's conversion reads.
template <class Kind>
struct CValue;
template <>
struct CValue<arg::Text> {
  static const char* of(const std::string& s) { return s.c_str(); }
  static const char* of(const char* s) { return s; }
};
template <>
struct CValue<arg::Int> {
  template <class T>
  static int of(T v) {
    return static_cast<int>(v);
  }
};
template <>
struct CValue<arg::Octal> {
  template <class T>
  static unsigned of(T v) {
    return static_cast<unsigned>(v);
  }
};
}  // namespace detail

// The message formatted with its arguments; a call whose arguments do not
// match the text's conversions in number and kind does not compile.
template <class... Kinds, class... Args>
requires(sizeof...(Kinds) == sizeof...(Args) && (detail::kFits<Kinds, Args> && ...)) std::string
    formatMessage(Message<Kinds...> message, const Args&... args) {
  return formatRuntime(messageText(message.number), detail::CValue<Kinds>::of(args)...);
}

// The emission rule: a text is logged only when it is not empty.
inline void logIfAny(const std::string& text) {
  if (!text.empty()) logMessage(text);
}

// Formats the message and logs it when the result is not empty.
template <class... Kinds, class... Args>
requires(sizeof...(Kinds) == sizeof...(Args) &&
         (detail::kFits<Kinds, Args> && ...)) void logMsg(Message<Kinds...> message, const Args&... args) {
  logIfAny(formatMessage(message, args...));
}

// The text with the error mark appended: how a failed step is told.
inline std::string withErrorMark(const std::string& text) { return text + messageText(msg::kErrorMark); }

// Logs a line that tells of a failure (it also goes to the run report's
// error lines).
void logFailure(const std::string& text);
// The message formatted and logged as a failure.
template <class... Kinds, class... Args>
requires(sizeof...(Kinds) == sizeof...(Args) &&
         (detail::kFits<Kinds, Args> && ...)) void logFailureMsg(Message<Kinds...> message, const Args&... args) {
  logFailure(formatMessage(message, args...));
}
