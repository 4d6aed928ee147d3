#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <tuple>

#include "queue_test_support.h"
#include "queues/option_capture.h"
#include "queues/ppd_candidates.h"
#include "queues/queue_inventory.h"
#include "sys/dir_listing.h"

namespace {

const std::string kOldPs = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
const std::string kOldDuoPcl = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100duo_pcl.ppd");
const std::string kNewPs = sourcePath("dist/ppd/tamra_cendra2100_ps.ppd");

class QueueScan : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetPpdCandidates();
    runSettings().cupsBaseDir = tree_.root();
    runSettings().ppdInstallDir = tree_.root() + "/ppdinst";
    std::filesystem::create_directories(ppdDir_);
  }
  void TearDown() override { forgetPpdCandidates(); }
  void copy(const std::string& from, const std::string& to) { std::filesystem::copy_file(from, to); }

  QueueTestTree tree_;
  std::string ppdDir_ = tree_.root() + "/etc/cups/ppd";
};

TEST_F(QueueScan, RecognisesTheProductQueuesAndSurvivesHostileFiles) {
  const std::string longName(100, 'L');
  for (const char* name : {"Office.ppd", "Office.ppd.O"}) copy(kOldPs, ppdDir_ + "/" + name);
  for (const std::string& name : std::vector<std::string>{"Lab.ppd", ".ppd", longName + ".ppd"})
    copy(kOldDuoPcl, ppdDir_ + "/" + name);
  const std::string head = "*PPD-Adobe: \"4.3\"\n";
  writeWhole(ppdDir_ + "/Other.ppd", head + "*ModelName: \"Acme Writer 9 PS\"\n*% Mivo version: 1\n");
  writeWhole(ppdDir_ + "/V2.ppd", head + "*ModelName: \"Tamra Cendra 2100 PS\"\n*% Mivo version: 2\n");
  writeWhole(ppdDir_ + "/NoPdl.ppd", head + "*ModelName: \"Tamra Cendra 2100 X\"\n*% Mivo version: 1\n");
  writeWhole(ppdDir_ + "/Late.ppd",
             head + std::string(28, '\n') + "*ModelName: \"Tamra Cendra 2100 PS\"\n*% Mivo version: 1\n");
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 131) % 256));
  writeWhole(ppdDir_ + "/Binary.ppd", binary);
  writeWhole(ppdDir_ + "/NoLineEnds.ppd", std::string(300000, '*'));
  writeWhole(ppdDir_ + "/HugeLine.ppd", "*ModelName: \"" + std::string(100 * 1024, 'T') + " PS\"\n");
  ASSERT_EQ(::mkfifo((ppdDir_ + "/Fifo.ppd").c_str(), 0600), 0);  // would block a plain open
  std::filesystem::create_directory(ppdDir_ + "/Directory.ppd");
  writeWhole(tree_.root() + "/ppdinst/new.ppd", readWhole(kNewPs));

  int count = -1;
  QueueList list;
  EXPECT_EQ(scanQueuePpds(list, count), 1);
  ASSERT_EQ(count, 4);
  using View = std::tuple<std::string, std::string, std::string, int, int>;
  std::vector<View> found;
  for (const QueueRecord& q : list.records) found.emplace_back(q.name, q.ppdPath, q.model, q.modelId, q.pdlKind);
  std::sort(found.begin(), found.end());
  const std::string ps = "\"Tamra Cendra 2100 PS\"", duo = "\"Tamra Cendra 2100 Duo PCL\"";
  // ".ppd" would make a queue without a name: passed over, as ".." or "." would be.
  EXPECT_EQ(found, (std::vector<View>{{longName.substr(0, 79), ppdDir_ + "/" + longName + ".ppd", duo, 9, PDL_PCL},
                                      {"Lab", ppdDir_ + "/Lab.ppd", duo, 9, PDL_PCL},
                                      {"Office", ppdDir_ + "/Office.ppd", ps, 12, PDL_POSTSCRIPT},
                                      {"Office", ppdDir_ + "/Office.ppd.O", ps, 12, PDL_POSTSCRIPT}}));
  std::string log = tree_.log();
  for (const std::string& line :
       std::vector<std::string>{"Lista de las impresoras Tamra instalado: 4.\n",
                                "Queue PPD passed over, its name cannot name a queue or a file: '.ppd'.\n",
                                "\tTamra ID: 9.\n\tPDL    : PCL.\n", "PPD NO ENCONTRADA!\n",
                                "PPD = " + tree_.root() + "/ppdinst/new.ppd.\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

// A dry run leaves an interrupted run's temporaries where they are, and never takes them for queues.
TEST_F(QueueScan, TemporariesAreNeverQueues) {
  runSettings().dryRun = true;
  for (const char* name : {"Office.ppd", ".zebtmpAb12Cd", ".zebotXy34Zw"}) copy(kOldPs, ppdDir_ + "/" + name);
  int count = -1;
  QueueList list;
  scanQueuePpds(list, count);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(std::filesystem::exists(ppdDir_ + "/.zebtmpAb12Cd"));
}

TEST(IdentifyModel, ModelValueKindAndId) {
  const std::tuple<const char*, int, int> cases[] = {
      // the line, the kind (-1: left as it was), the id (0: none)
      {"*ModelName: \"Tamra Cendra 2100 PS\"", PDL_POSTSCRIPT, 12},   // no line end: window ends before the quote
      {"*ModelName:   \"Tamra Cendra 2100 Duo PCL\"\n", PDL_PCL, 9},  // the longer name stands first
      {"*ModelName: \"Tamra Brisk 1500 PXL\"\r\n", PDL_PXL, 40},
      {"*ModelName: \"Orvi P2100 PS\"\n", PDL_POSTSCRIPT, 12},  // a rebadge shares its twin's id
      {"*ModelName: \"Old Tamra Cendra 2100 PS\"\n", PDL_POSTSCRIPT, 12},
      {"*ModelName: \"Tamra Cendra 2100 PS printer\"\n", PDL_NONE, 12},  // " PS" outside the window
      {"*ModelName: \"Tamra Cendra 2100 PS", PDL_NONE, 12},              // the window stops before the last character
      {"*ModelName: \"Acme Writer 9 PCL\"\n", PDL_PCL, 0},               // unknown model: kind set all the same
      {"*NickName: \"Tamra Cendra 2100 PS\"\n", -1, 0},
  };
  for (const auto& [line, expectedKind, expectedId] : cases) {
    int kind = -1, id = 0;
    auto value = identifyModel(line, kind, id);
    EXPECT_EQ(kind, expectedKind) << line;
    EXPECT_EQ(id, expectedId) << line;
    ASSERT_EQ(value.has_value(), expectedId != 0) << line;
    if (value) {
      EXPECT_EQ(*value, std::string(line).substr(std::string(line).find('"')));
    }
  }
}

TEST(ReadMivoVersion, OnlyTheFirstDigitCounts) {
  const std::pair<const char*, int> cases[] = {
      {"*% Mivo version: 1\n", 1}, {"*% Mivo version:1", 1},    {"*% Mivo version:   2", 2},
      {"*% Mivo version: 12", 1},  {"*% Mivo version: 1.0", 1}, {"*% Mivo version: x1", -1},
      {"*% Mivo version:", -1},    {"*% Mivo version:\t1", -1}, {"*% mivo version: 1", -1},
  };
  for (auto [line, expected] : cases) EXPECT_EQ(readMivoVersion(line), expected) << line;
}

TEST(ReadInfoPrinters, ReadsThePrintersBlock) {
  const std::string n90(90, 'n'), begin = "%%ZEBBLOCK_PRINTERS_BEGIN", end = "%%ZEBBLOCK_PRINTERS_END";
  const std::tuple<int, std::string, std::string, int, std::vector<std::string>, int> cases[] = {
      {2, "mivoInfo4.0", begin + "  \nOffice  \n\n" + n90 + "\n", 1, {"Office", "", n90.substr(0, 79)}, 3},
      {2, "mivoInfo4.0", begin + "\n" + end + "\n", 1, {"Old"}, 0},  // an empty block keeps the old head
      {1, "mivoInfo2.0", begin + "\nA\nB\n" + end + "\nC\n", 1, {"A", "B"}, 2},
      {2, "mivoInfo4.0", begin + "\r\nA \r\n" + end + "\r\n", 1, {"A"}, 1},  // CR LF reads like LF
      {2, "mivoInfo2.0", begin + "\nA\n" + end + "\n", 0, {"Old", "Older"}, 77},
  };
  for (const auto& [kind, fileName, content, result, names, infoCount] : cases) {
    QueueTestTree tree;
    runSettings().installDir = tree.root();
    runSettings().infoPrinterCount = 77;
    writeWhole(tree.root() + "/" + fileName, content);
    QueueList list;
    list.head().name = "Old";
    addPList(&list, QueueRecord{"", "", "Older", 0, 0});
    EXPECT_EQ(readInfoPrinters(kind, list), result) << content;
    std::vector<std::string> read;
    for (const QueueRecord& record : list.records) read.push_back(record.name);
    EXPECT_EQ(read, names) << content;
    EXPECT_EQ(runSettings().infoPrinterCount, infoCount) << content;
  }
}

}  // namespace
