#include "run/shell.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

TEST(Shell, OrdinaryArgumentsStayAsTheyAre) {
  for (const char* arg : {"/opt/orv", "MIVOINST.CONF", "Tamra-X_1.ppd.gz", "a=b,c:d@e+f%g"})
    EXPECT_EQ(shellQuote(arg), arg);
}

TEST(Shell, HostileArgumentsReachTheCommandAsOneWord) {
  char tmpl[] = "/tmp/shellXXXXXX";
  std::string dir = mkdtemp(tmpl);
  for (const std::string& hostile : std::vector<std::string>{"a b", "x;touch " + dir + "/pwned", "$(touch " + dir + "/pwned)",
                              "it's", "`id`", "*", "", "~root", "line\nbreak", "\"q\""}) {
    std::string out = dir + "/out";
    int status = runShell("printf '%s' " + shellQuote(hostile) + " > " + out);
    EXPECT_EQ(status, 0);
    std::ifstream in(out);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, hostile);
  }
  EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
