#include "install/ppd_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../test_support.h"
#include "services/shell.h"

namespace {

TEST(PpdArchive, OrdinaryScript) {
  EXPECT_EQ(ppdArchiveScript("/usr/share/ppd/orv", "/var/tmp/MivoPPDFiles4.0-11.tar"),
            "#!/bin/sh\nc=`pwd`\ncd /usr/share/ppd/orv\n"
            "tar cf /var/tmp/MivoPPDFiles4.0-11.tar -- *\ncd ${c}\n");
}

// The script runs for real on a scratch directory whose name and entries
// would run commands or pass options if they were not quoted.
TEST(PpdArchive, ScriptArchivesEntriesOfAnAwkwardDirectory) {
  TempDir scratch;
  const std::string& root = scratch.root();
  std::string dir = root + "/p d;touch pwned";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  for (const char* name : {"a.ppd", "--checkpoint-action=exec=touch x"}) writeWhole(dir + "/" + name, "x");
  std::string archive = root + "/out $(touch pwned2).tar";
  // Started in the scratch directory, so that any injected command leaves its mark there.
  std::string command = "cd " + shellQuote(root) + "\n" + ppdArchiveScript(dir, archive);
  EXPECT_EQ(runShell(command + " 2>/dev/null"), 0);
  EXPECT_EQ(access((root + "/pwned").c_str(), F_OK), -1);
  EXPECT_EQ(access((root + "/pwned2").c_str(), F_OK), -1);
  runShell("tar tf " + shellQuote(archive) + " | sort > " + shellQuote(root + "/list"));
  EXPECT_EQ(readWhole(root + "/list"), "--checkpoint-action=exec=touch x\na.ppd\n");
}

}  // namespace
