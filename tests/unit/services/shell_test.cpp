#include "services/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "../test_support.h"

TEST(Shell, OrdinaryArgumentsStayHostileOnesReachTheCommandAsOneWord) {
  for (const char* arg : {"/opt/orv", "MIVOINST.CONF", "Tamra-X_1.ppd.gz", "a=b,c:d@e+f%g"})
    EXPECT_EQ(shellQuote(arg), arg);
  TempDir tmp;
  for (const std::string& hostile : {std::string("a b"), "x;touch " + tmp / "pwned", "$(touch " + tmp / "pwned)",
                                     std::string("it's"), std::string("*"), std::string(""), std::string("l\nb")}) {
    EXPECT_EQ(runShell("printf '%s' " + shellQuote(hostile) + " > " + tmp / "out"), 0);
    EXPECT_EQ(readWhole(tmp / "out"), hostile);
  }
  EXPECT_NE(::access((tmp / "pwned").c_str(), F_OK), 0);
  auto started = std::chrono::steady_clock::now();
  EXPECT_NE(runShellBounded("sleep 30", std::chrono::seconds(1)), 0);  // killed at its limit
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}
