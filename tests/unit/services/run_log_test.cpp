#include "services/run_log.h"

#include <gtest/gtest.h>

#include "../test_support.h"

// Each run's log starts empty: nothing of a longer earlier run stays at its end.
TEST(RunLog, EachRunWritesItsLogAnew) {
  ScratchHost host;
  closeLog();
  writeWhole(host / "log", std::string(20000, '.') + "\nearlier run\n");
  ASSERT_EQ(openLog(0), 1);
  logMessage("this run\n");
  closeLog();
  EXPECT_EQ(host.log().find("earlier run"), std::string::npos);
  EXPECT_NE(host.log().find("this run\n"), std::string::npos);
}
