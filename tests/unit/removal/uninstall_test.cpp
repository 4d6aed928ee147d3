#include "removal/uninstall.h"
#include "queues/queue_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "../test_support.h"
#include "services/run_settings.h"

namespace {

TEST(QueueNames, OnlyPlainNamesFormPathsAndCommands) {
  for (const char* bad : {"", "   ", "\t", ".", "..", "a/b", "/", "../etc"})
    EXPECT_FALSE(isUsableQueueName(bad)) << bad;
  for (const char* good : {"Office", "null", "a.b", "...", "$(id)", "x;y"})
    EXPECT_TRUE(isUsableQueueName(good)) << good;
}

TEST(RemoveQueue, CommandLinesQuoteHostileNamesAndRetryOnce) {
  TempDir tmp;
  resetRunSettings();
  RunSettings& s = runSettings();
  s.printerManager = kPrinterCups;
  s.commands.lpadmin = "/usr/sbin/lpadmin";
  s.commands.lpstat = "/usr/bin/lpstat";
  s.commands.cupsDataDir = tmp.root();
  const std::tuple<std::string, std::vector<int>, std::vector<std::string>> cases[] = {
      {"Office", {0}, {"/usr/sbin/lpadmin -xOffice 2>/dev/null"}},
      {"q;touch x", {0}, {"/usr/sbin/lpadmin -x'q;touch x' 2>/dev/null"}},
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
  RecordingRunner runner;
  for (const char* name : {"..", "a/b", ""}) EXPECT_EQ(removeQueue(name), 0);
  EXPECT_TRUE(runner.commands.empty());
  resetRunSettings();
}

TEST(DeviceEntries, OnlyRootsFilesAndFifosGoWithTheirQueue) {
  EXPECT_TRUE(isRemovableDeviceEntry(true, false, 0));
  EXPECT_TRUE(isRemovableDeviceEntry(false, true, 0));
  EXPECT_FALSE(isRemovableDeviceEntry(true, false, 1000));  // another user's file
  EXPECT_FALSE(isRemovableDeviceEntry(false, false, 0));    // a link, device, socket or directory
}

class RemoveTreeTest : public ::testing::Test {
 protected:
  void sh(const std::string& script) { ASSERT_EQ(std::system(("cd " + dir_ + " && " + script).c_str()), 0); }
  bool exists(const std::string& rel) const {
    struct stat info;
    return lstat((dir_ + "/" + rel).c_str(), &info) == 0;
  }
  TempDir tmp_;
  const std::string dir_ = tmp_.root();
};

TEST_F(RemoveTreeTest, LinksAreRemovedNeverFollowedAndAFifoKeepsItsParents) {
  sh("mkdir -p out/sub t/a/b t/c/d && touch out/f out/sub/g t/a/f t/c/d/f t/c/.hidden && "
     "ln -s $PWD/out t/c/dirlink && ln -s $PWD/out/f t/c/filelink && "
     "mkfifo t/a/b/fifo && ln -s out top");
  EXPECT_EQ(removeTree(dir_ + "/t"), -1);
  EXPECT_TRUE(exists("t/a/b/fifo"));
  EXPECT_FALSE(exists("t/a/f"));
  EXPECT_FALSE(exists("t/c"));
  EXPECT_EQ(removeTree(dir_ + "/top"), -1);  // a link where the tree should be is left alone
  EXPECT_TRUE(exists("top"));
  for (const char* kept : {"out/f", "out/sub/g"}) EXPECT_TRUE(exists(kept)) << kept;

  sh("rm t/a/b/fifo");
  EXPECT_EQ(removeTree(dir_ + "/t"), 0);
  EXPECT_EQ(removeTree(dir_ + "/t"), -1);
}

TEST_F(RemoveTreeTest, ADirectoryThatCannotBeListedIsNotRemoved) {
  sh("mkdir -p t/locked empty && chmod 0 t/locked empty && chown -R 65534 . 2>/dev/null; true");
  pid_t child = fork();
  if (child == 0) {
    // Root lists anything; an ordinary user cannot list a mode 000 directory.
    if (getuid() == 0 && setuid(65534) != 0) _exit(2);
    _exit(removeTree(dir_ + "/empty") == -1 && removeTree(dir_ + "/t") == -1 && exists("empty") && exists("t/locked")
              ? 0
              : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
}

}  // namespace
