#include "run/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>

#include "run/file_handles.h"
#include "run/run_settings.h"
#include "run/shell.h"

namespace {

FilePtr gLog;

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(size));
  return out;
}

// Opened without following a link planted at the log path.
FILE* openTruncatedNoFollow(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, "w");
  if (!f) ::close(fd);
  return f;
}

}  // namespace

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformat(format, args);
  va_end(args);
  return out;
}

std::string formatRuntime(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = vformat(format, args);
  va_end(args);
  return out;
}

int logMessage(std::string_view text) {
  FILE* target = gLog ? gLog.get() : stderr;
  std::fwrite(text.data(), 1, text.size(), target);
  if (text.empty() || text.back() != '\n') std::fputc('\n', target);
  std::fflush(target);
  return 1;
}

void writeLogRaw(std::string_view text) {
  if (gLog) std::fwrite(text.data(), 1, text.size(), gLog.get());
}

void writeStderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int openLog(int uid) {
  RunSettings& s = runSettings();
  if (s.logFileName.empty()) s.logFileName = "/var/log/Mivo4.0_UpdateLog";
  if (uid != 0) s.logFileName += formatText("_%d", uid);
  gLog.reset(openTruncatedNoFollow(s.logFileName));
  if (!gLog) return 0;
  if (!s.commands.chcon.empty()) {
    std::string command =
        s.commands.chcon + " -u system_u " + shellQuote(s.logFileName) + " 2>/dev/null";
    int status = runShell(command);
    writeLogRaw(formatMessage(msg::kPreparingLog));
    writeLogRaw(formatMessage(msg::kCommandReturned, command, status));
    writeLogRaw(std::string(kLogSeparator) + "\n");
  }
  return 1;
}

void closeLog() {
  if (!gLog) return;
  std::time_t now = std::time(nullptr);
  writeLogRaw(formatMessage(msg::kClosingLine, std::ctime(&now)));
  gLog.reset();
}
