#include "services/run_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "../test_support.h"
#include "services/run_settings.h"

namespace {

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunSettings();
    runSettings().logFileName = dir_ + "/log";
    runSettings().commands.chcon.clear();
  }
  void TearDown() override { closeLog(); }
  TempDir tmp_;
  const std::string dir_ = tmp_.root();
};

TEST_F(RunLogTest, LinesGetExactlyOneNewlineAndTheLogIsCurrent) {
  ASSERT_EQ(openLog(0), 1);
  logMessage("abc");
  logMessage("abc\n");
  logIfAny(formatText("%s\n", messageText(msg::kMustBeRoot)));
  logIfAny("");  // an empty text gives no line
  std::string expected = std::string("abc\nabc\n") + messageText(msg::kMustBeRoot) + "\n";
  EXPECT_EQ(readWhole(dir_ + "/log"), expected);  // flushed line by line
}

TEST_F(RunLogTest, NonRootLogNameCarriesTheUidAndASecondRunTruncates) {
  ASSERT_EQ(openLog(1000), 1);
  EXPECT_EQ(runSettings().logFileName, dir_ + "/log_1000");
  logMessage("first run");
  closeLog();
  runSettings().logFileName = dir_ + "/log";
  ASSERT_EQ(openLog(1000), 1);
  logMessage("second");
  EXPECT_EQ(readWhole(dir_ + "/log_1000"), "second\n");
}

TEST_F(RunLogTest, ChconHeaderBlockRecordsTheCommandAndItsStatus) {
  runSettings().commands.chcon = "/bin/false";
  ASSERT_EQ(openLog(0), 1);
  logMessage("x");
  std::string expected =
      "Preparaci\xF3n de archivo de registro:\n"
      "Commando: \"/bin/false -u system_u " +
      dir_ +
      "/log 2>/dev/null\" regres\xF3 con: 256.\n"
      "=======================================\nx\n";
  EXPECT_EQ(readWhole(dir_ + "/log"), expected);
}

TEST_F(RunLogTest, APlantedLinkIsNotFollowed) {
  std::string victim = dir_ + "/victim";
  writeWhole(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), (dir_ + "/log").c_str()), 0);
  EXPECT_EQ(openLog(0), 0);
  EXPECT_EQ(readWhole(victim), "keep");
}

// Known texts show in the logs of the end-to-end runs.
TEST(MessageCatalogue, UnknownNumbersAreEmpty) {
  EXPECT_STREQ(messageText(1), "");
  EXPECT_STREQ(messageText(500), "");
}

}  // namespace
