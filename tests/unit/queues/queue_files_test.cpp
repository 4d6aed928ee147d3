#include "queues/queue_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "queue_test_support.h"
#include "queues/queue_update.h"

namespace {

TEST(CopyFile, CopiesEveryChunkAndNeverWritesThroughALink) {
  QueueTestTree tree;
  std::string big;
  for (int i = 0; i < 100000; ++i) big.push_back(static_cast<char>(i % 251));
  writeWhole(tree.root() + "/source", big);
  EXPECT_TRUE(copyFile(tree.root() + "/source", tree.root() + "/copy"));
  EXPECT_EQ(readWhole(tree.root() + "/copy"), big);
  writeWhole(tree.root() + "/victim", "keep me");
  ASSERT_EQ(::symlink((tree.root() + "/victim").c_str(), (tree.root() + "/link").c_str()), 0);
  EXPECT_FALSE(copyFile(tree.root() + "/source", tree.root() + "/link"));
  EXPECT_EQ(readWhole(tree.root() + "/victim"), "keep me");
}

TEST(InstallQueuePpd, ReplacesOnlyWithACompleteRewrittenPpdAndKeepsTheMode) {
  QueueTestTree tree;
  std::string ppd = tree.root() + "/ppd/Office.ppd";
  writeWhole(ppd, "old ppd\n");
  writeWhole(tree.root() + "/empty", "");
  EXPECT_EQ(installQueuePpd(ppd, tree.root() + "/empty"), 0);
  EXPECT_EQ(installQueuePpd(ppd, tree.root() + "/missing"), 0);
  EXPECT_EQ(readWhole(ppd), "old ppd\n");
  writeWhole(tree.root() + "/zebot1", "new ppd\n");
  EXPECT_EQ(installQueuePpd(ppd, tree.root() + "/zebot1"), 1);
  EXPECT_EQ(readWhole(ppd), "new ppd\n");
  EXPECT_NE(tree.log().find("Copia " + tree.root() + "/zebot1 en " + ppd + ": resultado:=0\n"), std::string::npos);
}

}  // namespace
