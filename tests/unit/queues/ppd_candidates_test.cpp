#include "queues/ppd_candidates.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "queue_test_support.h"
#include "queues/queue_inventory.h"
#include "sys/dir_listing.h"
#include "queues/queue_update.h"

namespace {

const std::string kNewPs = sourcePath("dist/ppd/tamra_cendra2100_ps.ppd");

std::string gzipped(const std::string& text) {
  std::string out(compressBound(text.size()) + 64, '\0');
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A new PPD is used only when it is whole: a cut or damaged compressed file,
// or a plain one that ends in the middle of a line, never reaches a queue.
TEST(ReadPpdText, OnlyWholeFilesAreRead) {
  TempDir tmp;
  const std::string ppd = "*PPD-Adobe: \"4.3\"\n*ModelName: \"Tamra Cendra 2100 PS\"\n" + std::string(5000, '*') + "\n";
  std::string damaged = gzipped(ppd);
  damaged[damaged.size() - 6] ^= 0x55;  // the check sum no longer matches
  const std::tuple<std::string, std::string, bool, std::string> cases[] = {
      {"plain.ppd", ppd, true, ppd},
      {"whole.ppd.gz", gzipped(ppd), true, ppd},
      {"two-members.ppd.gz", gzipped(ppd.substr(0, 100)) + gzipped(ppd.substr(100)), true, ppd},
      {"cut.ppd.gz", gzipped(ppd).substr(0, 40), false, ""},
      {"damaged.ppd.gz", damaged, false, ""},
      {"trailing-junk.ppd.gz", gzipped(ppd) + "junk", false, ""},
  };
  for (const auto& [name, bytes, readable, text] : cases) {
    writeWhole(tmp.root() + "/" + name, bytes);
    std::string read, why;
    EXPECT_EQ(readPpdText(tmp.root() + "/" + name, read, why), readable) << name;
    if (readable) {
      EXPECT_EQ(read, text) << name;
    } else {
      EXPECT_NE(why.find(name), std::string::npos) << why;
    }
  }
  std::string read, why;
  EXPECT_FALSE(readPpdText(tmp.root() + "/missing.ppd", read, why));
  EXPECT_TRUE(endsWithLineEnd("*% end\n") && endsWithLineEnd("*% end\r\n"));
  EXPECT_FALSE(endsWithLineEnd("*PageSize Letter: \"<</PageSize[612") || endsWithLineEnd(""));
}

// The search's fixture: a tree with the run log, the candidate index forgotten before and after.
class FindModelPpdTest : public ::testing::Test {
 protected:
  void SetUp() override { forgetPpdCandidates(); }
  void TearDown() override { forgetPpdCandidates(); }
  void copy(const std::string& from, const std::string& to) { std::filesystem::copy_file(from, to); }
  QueueTestTree tree_;
};

TEST_F(FindModelPpdTest, TakesTheFirstMatchInListingOrderFromOneReading) {
  std::string dir = tree_.root() + "/candidates";
  writeWhole(dir + "/pcl.ppd", readWhole(sourcePath("dist/ppd/gz/tamra_cendra2100_pcl.ppd")));
  writeWhole(dir + "/first.ppd.gz", gzipped(readWhole(kNewPs)));
  copy(kNewPs, dir + "/second.ppd");
  writeWhole(dir + "/garbage.ppd", std::string(70000, '\x01'));
  std::filesystem::create_symlink(dir + "/nowhere", dir + "/dangling.ppd");
  std::string firstPs;
  for (const std::string& entry : listDirectory(dir))
    if (firstPs.empty() && (entry == "first.ppd.gz" || entry == "second.ppd")) firstPs = dir + "/" + entry;

  QueueRecord ps{"\"Tamra Cendra 2100 PS\"", "", "Office", 12, PDL_POSTSCRIPT};
  QueueRecord pcl{"\"Tamra Cendra 2100 PCL\"", "", "Back", 12, PDL_PCL};
  long openedBefore = ppdCandidateFilesOpened();
  const std::tuple<QueueRecord, int, int, std::string> searches[] = {{ps, PDL_POSTSCRIPT, 12, firstPs},
                                                                     {pcl, PDL_PCL, 12, dir + "/pcl.ppd"},
                                                                     {pcl, PDL_POSTSCRIPT, 12, ""},
                                                                     {ps, PDL_POSTSCRIPT, 13, ""}};
  for (const auto& [queue, kind, id, expected] : searches) {
    std::string found = "untouched";
    EXPECT_EQ(findModelPpd(dir, queue, kind, id, found), expected.empty() ? 0 : 1);
    EXPECT_EQ(found, expected.empty() ? "untouched" : expected);
  }
  std::string found;
  EXPECT_EQ(findModelPpd(tree_.root() + "/missing", ps, PDL_POSTSCRIPT, 12, found), 0);
  // Every search after the first is answered without opening a file again.
  EXPECT_EQ(ppdCandidateFilesOpened() - openedBefore, 4);

  // A longer model name that begins with the queue's is another model, even of the same id and kind.
  std::string duo = readWhole(kNewPs);
  duo.replace(duo.find("\"Tamra Cendra 2100 PS\""), 22, "\"Tamra Cendra 2100 PS Duo PS\"");
  writeWhole(tree_.root() + "/duo/duo.ppd", duo);
  EXPECT_EQ(findModelPpd(tree_.root() + "/duo", ps, PDL_POSTSCRIPT, 12, found), 0);
}

}  // namespace
