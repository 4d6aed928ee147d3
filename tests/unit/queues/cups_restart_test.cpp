#include "queues/cups_restart.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "sys/paths.h"

namespace {

// The scheduler is restarted when the run changed something, by the first
// manager that works; a run that changed nothing says so instead.
TEST(CupsRestart, OnlyWhenSomethingChangedAndByTheFirstManagerThatWorks) {
  ScratchHost host;
  RecordingRunner unchanged;
  EXPECT_EQ(restartCupsIfChanged(), 0);
  EXPECT_TRUE(unchanged.commands.empty());
  EXPECT_NE(host.log().find("Nada cambi\xF3"), std::string::npos);
  effects().makeDirectory(host / "changed", 0755, nullptr);
  RecordingRunner failing({256, 0});
  restartCupsIfChanged();
  ASSERT_FALSE(failing.commands.empty());
  bool systemctl = pathExists("/usr/bin/systemctl") || pathExists("/bin/systemctl");
  EXPECT_EQ(failing.commands.front().ends_with(" restart cups.service"), systemctl);
  EXPECT_LE(failing.commands.size(), 2u);
}

}  // namespace
