#include "services/terminal.h"

#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <vector>

#include "services/run_report.h"

namespace {

// The terminal's character set; empty: bytes are written as they are.
std::string gCharset;
size_t gProgressWidth = 0;
bool gStdoutMidLine = false;

bool takesLatin1(const std::string& charset) {
  return charset.empty() || charset == "ANSI_X3.4-1968" || charset == "ISO-8859-1" || charset == "ISO8859-1";
}

std::string latin1To(const std::string& charset, std::string_view text) {
  iconv_t converter = ::iconv_open((charset + "//TRANSLIT").c_str(), "ISO-8859-1");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
  std::string input(text);
  std::vector<char> output(input.size() * 4 + 16);
  char* in = input.data();
  char* out = output.data();
  size_t inLeft = input.size();
  size_t outLeft = output.size();
  ::iconv(converter, &in, &inLeft, &out, &outLeft);
  ::iconv_close(converter);
  return std::string(output.data(), output.size() - outLeft);
}

void writeTo(FILE* stream, std::string_view text) {
  std::string shown = terminalText(text);
  std::fwrite(shown.data(), 1, shown.size(), stream);
  std::fflush(stream);
}

}  // namespace

void readTerminalCharset() {
  // Only the name is wanted: the program itself keeps working in the "C" locale.
  std::setlocale(LC_CTYPE, "");
  gCharset = ::nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
}

std::string terminalText(std::string_view text) {
  if (takesLatin1(gCharset) || isUtf8(text)) return std::string(text);
  if (gCharset == "UTF-8") return utf8Text(text);
  return latin1To(gCharset, text);
}

void writeStderr(std::string_view text) {
  clearProgress();
  writeTo(stderr, text);
}

void writeStdout(std::string_view text) {
  clearProgress();
  writeTo(stdout, text);
  if (!text.empty()) gStdoutMidLine = text.back() != '\n';
}

void startStdoutLine() {
  if (gStdoutMidLine) writeStdout("\n");
}

void showProgress(std::string_view text) {
  if (!::isatty(STDOUT_FILENO)) return;
  std::string shown = terminalText(text);
  std::string line = "\r" + shown;
  if (shown.size() < gProgressWidth) line += std::string(gProgressWidth - shown.size(), ' ');
  gProgressWidth = shown.size();
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void clearProgress() {
  if (gProgressWidth == 0) return;
  std::string blank = "\r" + std::string(gProgressWidth, ' ') + "\r";
  gProgressWidth = 0;
  std::fwrite(blank.data(), 1, blank.size(), stdout);
  std::fflush(stdout);
}
