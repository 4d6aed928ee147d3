#include "services/run_log.h"

#include <gtest/gtest.h>

#include "../test_support.h"

// Lines held while a queue's files are written come out where its block is
// written; failures reach the report at once.
TEST(RunLog, HeldLinesComeOutWhereTheyAreWrittenAndFailuresAreErrors) {
  ScratchHost host;
  logMessage("first");
  std::string held;
  {
    HeldLines hold;
    logMessage("held\n");
    logFailure("failed");
    held = hold.take();
    logMessage("left");
  }
  logMessage(withErrorMark("marked"));
  writeHeldLines(held);
  EXPECT_EQ(host.log(), "first\nleft\nmarked: \xA1" "ERROR!\nheld\nfailed\n");
  EXPECT_EQ(runReport().errors(), (std::vector<std::string>{"failed", "marked: \xA1" "ERROR!"}));
}
