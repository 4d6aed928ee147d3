#include "services/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <utility>

#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "services/terminal.h"
#include "sys/file_handles.h"

namespace {

FilePtr gLog;
HeldLines* gHeld = nullptr;

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

void writeOut(std::string_view text) {
  if (!gLog) {
    writeStderr(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), gLog.get());
  std::fflush(gLog.get());
}

}  // namespace

std::string formatRuntime(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = formatTextV(format, args);
  va_end(args);
  return out;
}

int logMessage(std::string_view text) {
  std::string line(text);
  if (line.empty() || line.back() != '\n') line += '\n';
  if (holdsErrorMark(text)) runReport().addError(text);
  if (gHeld) {
    gHeld->add(line);
  } else {
    writeOut(line);
  }
  return 1;
}

HeldLines::HeldLines() : outer_(gHeld) { gHeld = this; }

HeldLines::~HeldLines() {
  gHeld = outer_;
  // Lines nobody took are not lost.
  if (!lines_.empty()) writeHeldLines(lines_);
}

std::string HeldLines::take() { return std::exchange(lines_, {}); }

void writeHeldLines(std::string_view lines) {
  if (lines.empty()) return;
  if (gHeld) {
    gHeld->add(lines);
  } else {
    writeOut(lines);
  }
}

void logFailure(const std::string& text) {
  logMessage(text);
  if (!holdsErrorMark(text)) runReport().addError(text);
}

void writeLogRaw(std::string_view text) {
  if (gLog) std::fwrite(text.data(), 1, text.size(), gLog.get());
}

int openLog(int uid) {
  RunSettings& s = runSettings();
  if (s.logFileName.empty()) s.logFileName = s.places.logPath;
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
