#include "queues/cups_restart.h"

#include <gtest/gtest.h>

#include "discovery/command_locator.h"
#include "queue_test_support.h"

namespace {

// The restart tries the service manager first, then one fallback; every
// status is logged. (The machine's own systemctl and service are looked up.)
TEST(RestartCups, OneFallbackAfterAFailedServiceManager) {
  std::optional<std::string> systemctl = findCommand("systemctl"), service = findCommand("service");
  if (!systemctl || !service) GTEST_SKIP() << "this machine lacks systemctl or service";
  const std::string first = *systemctl + " restart cups.service", fallback = *service + " cups restart";
  const std::tuple<std::vector<int>, std::vector<std::string>, int, std::string> cases[] = {
      {{0}, {first}, 0, "restablecer CUPS regres\xF3 con: 0\n"},
      {{256, 0}, {first, fallback}, 0, "restablecer CUPS regres\xF3 con: 256\nrestablecer CUPS regres\xF3 con: 0\n"},
      {{256, 768},
       {first, fallback},
       768,
       "restablecer CUPS regres\xF3 con: 256\nrestablecer CUPS regres\xF3 con: 768\n"},
  };
  for (const auto& [statuses, commands, result, log] : cases) {
    QueueTestTree tree;
    RecordingRunner runner(statuses);
    EXPECT_EQ(restartCups(), result);
    EXPECT_EQ(runner.commands, commands);
    EXPECT_EQ(tree.log(), "CUPS restart command:\"" + first + "\"\n" + log);
  }
}

}  // namespace
