#include "e2e/e2e_support.h"

#include <fstream>
#include <sstream>

std::string latin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = utf8[i];
    if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
      out += static_cast<char>(((c & 0x1F) << 6) | (utf8[++i] & 0x3F));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

::testing::AssertionResult linesInOrder(const std::string& text, const std::vector<std::string>& expected) {
  std::vector<std::string> lines = linesOf(text);
  size_t at = 0;
  for (const std::string& want : expected) {
    while (at < lines.size() && lines[at] != want) ++at;
    if (at == lines.size())
      return ::testing::AssertionFailure() << "line not found (in order): [" << want << "]\n--- text ---\n" << text;
    ++at;
  }
  return ::testing::AssertionSuccess();
}

void installProgramAt(SandboxHost& host, const std::string& dir) { host.copyIn(SETUP_BINARY, dir + "/bin/setup"); }

void ProgramTest::SetUp() {
  SandboxTest::SetUp();
  if (!IsSkipped()) installProgramAt(*host, "/srv/mivo");
}

std::string machineText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::string modeOf(SandboxHost& host, const std::string& path) {
  std::string out = host.sh("stat -c %a '" + path + "'").out;
  return out.empty() ? "?" : out.substr(0, out.size() - 1);
}
