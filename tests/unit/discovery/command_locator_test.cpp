#include "discovery/command_locator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "../test_support.h"

// Root runs a scheduler's program only where nobody else could have put or
// changed it; otherwise the bare name goes to the system's own search.
TEST(CommandLocator, OnlyProgramsRootAloneControlsAreRun) {
  REQUIRE_ROOT();
  ScratchHost host;
  runSettings().cupsBinDir = host / "cups";
  writeWhole(host / "cups/sbin/lpadmin", "#!/bin/sh\n", 0755);
  writeWhole(host / "cups/bin/lpstat", "#!/bin/sh\n", 0755);
  ASSERT_EQ(::chown((host / "cups/bin/lpstat").c_str(), 65534, 65534), 0);
  EXPECT_EQ(findCupsCommand("lpadmin"), host / "cups/sbin/lpadmin");
  EXPECT_EQ(findCupsCommand("lpstat"), "lpstat");
}
