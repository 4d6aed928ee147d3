#include "services/shell.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

#include "../test_support.h"

namespace {

TEST(Shell, OrdinaryArgumentsStayAsTheyAre) {
  for (const char* arg : {"/opt/orv", "MIVOINST.CONF", "Tamra-X_1.ppd.gz", "a=b,c:d@e+f%g"})
    EXPECT_EQ(shellQuote(arg), arg);
}

TEST(Shell, HostileArgumentsReachTheCommandAsOneWord) {
  TempDir tmp;
  const std::string& dir = tmp.root();
  for (const std::string& hostile :
       std::vector<std::string>{"a b", "x;touch " + dir + "/pwned", "$(touch " + dir + "/pwned)", "it's", "`id`", "*",
                                "", "~root", "line\nbreak", "\"q\""}) {
    std::string out = dir + "/out";
    EXPECT_EQ(runShell("printf '%s' " + shellQuote(hostile) + " > " + out), 0);
    EXPECT_EQ(readWhole(out), hostile);
  }
  EXPECT_NE(access((dir + "/pwned").c_str(), F_OK), 0);
}

}  // namespace
