#include "removal/uninstall.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../test_support.h"

namespace fs = std::filesystem;

TEST(RemoveQueue, CommandLinesQuoteHostileNamesAndRetryOnce) {
  ScratchHost host;
  RunSettings& s = runSettings();
  s.printerManager = kPrinterCups;
  s.commands.lpadmin = "/usr/sbin/lpadmin";
  s.commands.lpstat = "/usr/bin/lpstat";
  s.commands.cupsDataDir = host.root();
  writeWhole(host / "model/Office", "its model");
  const std::tuple<std::string, std::vector<int>, std::vector<std::string>> cases[] = {
      {"Office", {0}, {"/usr/sbin/lpadmin -xOffice 2>/dev/null"}},
      {"-rf", {0}, {"/usr/sbin/lpadmin -x-rf 2>/dev/null"}},
      {"$(id)'q",
       {256},
       {"/usr/sbin/lpadmin -x'$(id)'\\''q' 2>/dev/null", "/usr/bin/lpstat -p'$(id)'\\''q' -l > /dev/null",
        "/usr/sbin/lpadmin -x'$(id)'\\''q' 2>/dev/null"}},
  };
  for (const auto& [name, statuses, commands] : cases) {
    RecordingRunner runner(statuses);
    EXPECT_EQ(removeQueue(name), 1);
    EXPECT_EQ(runner.commands, commands) << name;
  }
  EXPECT_EQ(readWhole(host / "model/Office.old"), "its model");  // set aside, not gone
  RecordingRunner runner;
  for (const char* name : {"..", "a/b", ""}) EXPECT_EQ(removeQueue(name), 0);
  EXPECT_TRUE(runner.commands.empty());
  EXPECT_TRUE(isRemovableDeviceEntry(false, true, 0));
  EXPECT_FALSE(isRemovableDeviceEntry(true, false, 1000));  // another user's file
  EXPECT_FALSE(isRemovableDeviceEntry(false, false, 0));    // a link, device, socket or directory
}

// Directories go whole where the product made them; elsewhere only the
// files it installed go, and what others put there stays, with a record on
// disk or without one.
TEST(RemoveInstalledFiles, WholeDirectoriesOnlyWhereTheProductMadeThem) {
  for (auto [made, onDisk] : {std::pair{true, true}, {false, true}, {false, false}}) {
    ScratchHost host;
    const std::string dir = host / "opt/orv";
    for (const char* file : {"bin/setup", "etc/MIVOINST.CONF", "ppd/a.ppd", "man/setup.8", "bin/theirs"})
      writeWhole(dir + "/" + file, "x");
    OwnershipRecord record;
    record.installDir = dir;
    record.installDirMade = made;
    for (const char* file : {"bin/setup", "etc/MIVOINST.CONF", "ppd/a.ppd", "man/setup.8"})
      record.setFile({dir + "/" + file, "", 0644});
    if (made) {
      for (const char* sub : {"bin", "etc", "ppd", "man"}) record.addMadeDirectory(dir + "/" + sub);
    }
    resetProductRecord(onDisk);
    productRecord() = record;
    RecordingRunner runner;
    EXPECT_GT(removeInstalledFiles(), 0);
    EXPECT_EQ(fs::exists(dir + "/bin/theirs"), !made);
    EXPECT_EQ(fs::exists(dir + "/bin"), !made);
    for (const char* file : {"bin/setup", "ppd/a.ppd", "man/setup.8"}) EXPECT_FALSE(fs::exists(dir + "/" + file));
    EXPECT_TRUE(fs::exists(dir));
    EXPECT_EQ(host.log().find("no lo hizo Mivo") != std::string::npos, !made);
  }
}
