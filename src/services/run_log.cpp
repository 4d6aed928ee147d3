#include "services/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/file_handles.h"
#include "sys/product.h"

namespace {

FilePtr gLog;

// Opened without blocking and without following a link; kept only when it is
// a regular file, which is then emptied.
FILE* openLogFile(const std::string& path) {
  FdHolder fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  if (::ftruncate(fd.get(), 0) != 0) return nullptr;
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  FILE* file = ::fdopen(fd.get(), "w");
  if (file) fd.release();
  return file;
}

bool holdsErrorMark(std::string_view text) { return text.find(messageText(msg::kErrorMark)) != std::string_view::npos; }

}  // namespace

std::string formatRuntime(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = formatTextV(format, args);
  va_end(args);
  return out;
}

int logMessage(std::string_view text) {
  FILE* target = gLog ? gLog.get() : stderr;
  std::fwrite(text.data(), 1, text.size(), target);
  if (text.empty() || text.back() != '\n') std::fputc('\n', target);
  std::fflush(target);
  if (holdsErrorMark(text)) runReport().addError(text);
  return 1;
}

void logFailure(const std::string& text) {
  logMessage(text);
  if (!holdsErrorMark(text)) runReport().addError(text);
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
  if (s.logFileName.empty()) s.logFileName = kLogPath;
  if (uid != 0) s.logFileName += formatText("_%d", uid);
  gLog.reset(openLogFile(s.logFileName));
  if (!gLog) return 0;
  if (!s.commands.chcon.empty()) {
    std::string command = s.commands.chcon + " -u system_u " + shellQuote(s.logFileName) + " 2>/dev/null";
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
