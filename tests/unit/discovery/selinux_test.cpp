#include "discovery/selinux.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "services/run_settings.h"

namespace {

TEST(RunChcon, CommandLinesQuoteWhatTheShellWouldSplitOrRun) {
  resetRunSettings();
  runSettings().commands.chcon = "/usr/bin/chcon";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/opt/orv/bin", "-R -u system_u", "/usr/bin/chcon -R -u system_u /opt/orv/bin 2>/dev/null"},
      {"/usr/bin/zebgsfilter", "-u system_u", "/usr/bin/chcon -u system_u /usr/bin/zebgsfilter 2>/dev/null"},
      {"/srv/a b/bin", "-t bin_t", "/usr/bin/chcon -t bin_t '/srv/a b/bin' 2>/dev/null"},
      {"/srv/$(touch x);y", "-t bin_t", "/usr/bin/chcon -t bin_t '/srv/$(touch x);y' 2>/dev/null"},
      {"/srv/it's", "-t bin_t", "/usr/bin/chcon -t bin_t '/srv/it'\\''s' 2>/dev/null"},
  };
  for (const auto& [path, args, expected] : cases) {
    RecordingRunner runner({512});
    EXPECT_EQ(runChcon(path, args), 512);
    EXPECT_EQ(runner.commands, std::vector<std::string>{expected});
  }
  // Without a chcon of full path nothing runs.
  for (const char* chcon : {"", "chcon"}) {
    runSettings().commands.chcon = chcon;
    RecordingRunner runner;
    EXPECT_EQ(runChcon("/opt/orv/bin", "-u system_u"), -1);
    EXPECT_TRUE(runner.commands.empty());
  }
}

}  // namespace
