#include "discovery/print_system.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "discovery/command_locator.h"
#include "discovery/selinux.h"

TEST(PrintSystem, ProcessLinesAndStartScriptsTellThePrefixes) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"root  412  1  0 10:02 ?  00:00:00 /usr/local/sbin/cupsd -C /etc/cups/cupsd.conf\r\n", "/usr/local"},
      {"root  412  1  0 10:02 ?  00:00:00 /sbin/cupsd\n", ""},
      {"root  412  1  0 10:02 ?  00:00:00 cupsd -f\n", std::nullopt},            // not a path
      {"root  412  1  0 10:02 ?  00:00:00 /opt/cupsd-wrapper\n", std::nullopt},  // no bin/ or sbin/
  };
  for (const auto& [line, prefix] : cases) EXPECT_EQ(cupsdPrefix(wordOnwards(line, "cupsd")), prefix) << line;
  StartScriptPrefixes found = scanStartScript("#!/bin/sh\nprefix=/opt\nexec_prefix=\"$p\"\nprefix=/later\n");
  EXPECT_EQ(std::tie(found.prefix, found.execPrefix), std::make_tuple(std::string("/opt"), std::string("\"$p\"")));
  std::string binary(300, '\0');
  found = scanStartScript(binary + "prefix=/srv/cups\n");  // a marker starting a later 255-byte piece counts
  EXPECT_EQ(found.prefix, "/srv/cups");
  // Only a scheduler whose every user id is root's may say where CUPS lives.
  for (auto [line, root] : {std::pair{"Uid:\t0\t0\t0\t0\n", true}, {"Uid:\t1000\t1000\t1000\t1000\n", false},
                            {"Uid:\t0\t0\t100\t0\n", false}, {"Gid:\t0\t0\t0\t0\n", false}})
    EXPECT_EQ(uidLineIsRoot(line), root) << line;
  EXPECT_EQ(printerManagerFromName("LPRNG"), kPrinterLprng);
  EXPECT_EQ(printerManagerFromName("cups"), 0);
}

TEST(Selinux, RelabellingCommandsQuoteWhatTheShellWouldSplitOrRun) {
  ScratchHost host;
  runSettings().commands.chcon = "/usr/bin/chcon";
  RecordingRunner runner({512});
  EXPECT_EQ(runChcon("/srv/$(touch x);y", "-t bin_t"), 512);
  EXPECT_EQ(runner.commands, std::vector<std::string>{"/usr/bin/chcon -t bin_t '/srv/$(touch x);y' 2>/dev/null"});
  runSettings().commands.chcon = "chcon";  // not a full path: nothing runs
  EXPECT_EQ(runChcon("/opt/orv/bin", "-u system_u"), -1);
  EXPECT_EQ(runner.commands.size(), 1u);
}

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
