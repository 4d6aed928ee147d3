#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cups/file.h>
#include <tuple>

#include "queue_test_support.h"
#include "queues/option_capture.h"
#include "queues/ppd_candidates.h"
#include "queues/queue_files.h"
#include "queues/queue_inventory.h"

namespace {

const std::string kOldCendraPs = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
const std::string kOldDuoPcl = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100duo_pcl.ppd");
const std::string kNewCendraPs = sourcePath("dist/ppd/tamra_cendra2100_ps.ppd");
const std::string kNewCendraPcl = sourcePath("dist/ppd/gz/tamra_cendra2100_pcl.ppd");
const std::string kNewDuoPs = sourcePath("dist/ppd/gz/tamra_cendra2100duo_ps.ppd");

void gzipInto(const std::string& source, const std::string& dest) {
  cups_file_t* out = cupsFileOpen(dest.c_str(), "w9");
  ASSERT_NE(out, nullptr);
  std::string text = readWhole(source);
  cupsFileWrite(out, text.data(), text.size());
  cupsFileClose(out);
}

std::string ppdWithMarkers(const std::string& model, const std::string& version, int blankLinesBefore = 0) {
  return "*PPD-Adobe: \"4.3\"\n" + std::string(blankLinesBefore, '\n') + "*ModelName: \"" + model + "\"\n" +
         "*% Mivo version: " + version + "\n*FileVersion: \"1.0\"\n";
}

using QueueView = std::tuple<std::string, std::string, std::string, int, int>;

std::vector<QueueView> viewOf(const QueueList& list, int count) {
  std::vector<QueueView> view;
  for (int i = 0; i < count; ++i) {
    const QueueRecord& q = list.records[i];
    view.emplace_back(q.name, q.ppdPath, q.model, q.modelId, q.pdlKind);
  }
  std::sort(view.begin(), view.end());
  return view;
}

class QueueScan : public ::testing::Test {
 protected:
  void SetUp() override {
    forgetPpdCandidates();
    runSettings().cupsBaseDir = tree_.root();
    runSettings().ppdInstallDir = tree_.root() + "/ppdinst";
    ppdDir_ = tree_.root() + "/etc/cups/ppd";
    std::filesystem::create_directories(ppdDir_);
  }
  void TearDown() override { forgetPpdCandidates(); }

  QueueTestTree tree_;
  std::string ppdDir_;
};

TEST_F(QueueScan, RecognisesTheProductQueuesAndSurvivesHostileFiles) {
  std::filesystem::copy_file(kOldCendraPs, ppdDir_ + "/Office.ppd");
  std::filesystem::copy_file(kOldCendraPs, ppdDir_ + "/Office.ppd.O");
  std::filesystem::copy_file(kOldDuoPcl, ppdDir_ + "/Lab.ppd");
  std::filesystem::copy_file(kOldDuoPcl, ppdDir_ + "/.ppd");
  std::string longName(100, 'L');
  std::filesystem::copy_file(kOldDuoPcl, ppdDir_ + "/" + longName + ".ppd");
  writeWhole(ppdDir_ + "/Other.ppd", ppdWithMarkers("Acme Writer 9 PS", "1"));
  writeWhole(ppdDir_ + "/Version2.ppd", ppdWithMarkers("Tamra Cendra 2100 PS", "2"));
  writeWhole(ppdDir_ + "/NoPdl.ppd", ppdWithMarkers("Tamra Cendra 2100 Laser", "1"));
  writeWhole(ppdDir_ + "/Late.ppd", ppdWithMarkers("Tamra Cendra 2100 PS", "1", 28));
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 131) % 256));
  writeWhole(ppdDir_ + "/Binary.ppd", binary);
  writeWhole(ppdDir_ + "/NoLineEnds.ppd", std::string(300000, '*'));
  writeWhole(ppdDir_ + "/HugeLine.ppd", "*ModelName: \"" + std::string(100 * 1024, 'T') + " PS\"\n");
  ASSERT_EQ(::mkfifo((ppdDir_ + "/Fifo.ppd").c_str(), 0600), 0);
  std::filesystem::create_directory(ppdDir_ + "/Directory.ppd");
  std::filesystem::create_directories(tree_.root() + "/ppdinst");
  std::filesystem::copy_file(kNewCendraPs, tree_.root() + "/ppdinst/cendra_ps.ppd");

  int count = -1;
  QueueList list;
  EXPECT_EQ(scanQueuePpds(list, count), 1);
  ASSERT_EQ(count, 5);
  const std::string ps = "\"Tamra Cendra 2100 PS\"";
  const std::string duo = "\"Tamra Cendra 2100 Duo PCL\"";
  std::vector<QueueView> expected = {
      {"", ppdDir_ + "/.ppd", duo, 9, PDL_PCL},
      {longName.substr(0, 79), ppdDir_ + "/" + longName + ".ppd", duo, 9, PDL_PCL},
      {"Lab", ppdDir_ + "/Lab.ppd", duo, 9, PDL_PCL},
      {"Office", ppdDir_ + "/Office.ppd", ps, 12, PDL_POSTSCRIPT},
      {"Office", ppdDir_ + "/Office.ppd.O", ps, 12, PDL_POSTSCRIPT},
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(viewOf(list, count), expected);

  std::string log = tree_.log();
  EXPECT_NE(log.find("Lista de las impresoras Tamra instalado: 5.\n"), std::string::npos);
  EXPECT_NE(log.find("Impresora : desconocida.\n"), std::string::npos);
  EXPECT_NE(log.find("\tTamra ID: 9.\n\tPDL    : PCL.\n"), std::string::npos);
  EXPECT_NE(log.find("Lista de los archivos PPD Tamra para instalar: 5.\n"), std::string::npos);
  // Two Office records get the new PPD; the three PCL queues have none anywhere.
  std::string found = "PPD = " + tree_.root() + "/ppdinst/cendra_ps.ppd.\n";
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](char c) { return c == '!'; }), 3);
  EXPECT_NE(log.find(found), std::string::npos);
  EXPECT_NE(log.find(found, log.find(found) + 1), std::string::npos);
}

TEST_F(QueueScan, EmptyOrMissingDirectoryFindsNothing) {
  int count = -1;
  QueueList list;
  EXPECT_EQ(scanQueuePpds(list, count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tree_.log(),
            "Lista de las impresoras Tamra instalado: 0.\nLista de los archivos PPD Tamra para instalar: 0.\n");
  std::filesystem::remove(ppdDir_);
  count = -1;
  EXPECT_EQ(scanQueuePpds(list, count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tree_.log(),
            "Lista de las impresoras Tamra instalado: 0.\nLista de los archivos PPD Tamra para instalar: 0.\n");
}

TEST_F(QueueScan, FindModelPpdTakesTheFirstMatchInListingOrderFromOneReading) {
  std::string dir = tree_.root() + "/candidates";
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(kNewCendraPcl, dir + "/wrong_kind.ppd");
  gzipInto(kNewCendraPs, dir + "/first.ppd.gz");
  std::filesystem::copy_file(kNewCendraPs, dir + "/second.ppd");
  gzipInto(kNewDuoPs, dir + "/duo.ppd.gz");
  writeWhole(dir + "/garbage.ppd", std::string(70000, '\x01'));
  std::filesystem::create_symlink(dir + "/nowhere", dir + "/dangling.ppd");
  std::vector<std::string> listing = listDirectory(dir);
  auto firstOf = [&](std::initializer_list<const char*> names) {
    for (const std::string& entry : listing)
      for (const char* name : names)
        if (entry == name) return dir + "/" + entry;
    return std::string();
  };

  QueueRecord cendra{"\"Tamra Cendra 2100 PS\"", "", "Office", 12, PDL_POSTSCRIPT};
  QueueRecord duo{"\"Tamra Cendra 2100 Duo PS\"", "", "Lab", 9, PDL_POSTSCRIPT};
  long openedBefore = ppdCandidateFilesOpened();
  std::string found;
  EXPECT_EQ(findModelPpd(dir, cendra, PDL_POSTSCRIPT, 12, found), 1);
  EXPECT_EQ(found, firstOf({"first.ppd.gz", "second.ppd"}));
  EXPECT_EQ(findModelPpd(dir, duo, PDL_POSTSCRIPT, 9, found), 1);
  EXPECT_EQ(found, dir + "/duo.ppd.gz");
  QueueRecord cendraPcl{"\"Tamra Cendra 2100 PCL\"", "", "Back", 12, PDL_PCL};
  EXPECT_EQ(findModelPpd(dir, cendraPcl, PDL_PCL, 12, found), 1);
  EXPECT_EQ(found, dir + "/wrong_kind.ppd");
  EXPECT_EQ(findModelPpd(dir, cendraPcl, PDL_POSTSCRIPT, 12, found), 0);
  found = "untouched";
  EXPECT_EQ(findModelPpd(dir, cendra, PDL_POSTSCRIPT, 13, found), 0);
  EXPECT_EQ(findModelPpd(dir, duo, PDL_PCL, 9, found), 0);
  EXPECT_EQ(findModelPpd(tree_.root() + "/missing", cendra, PDL_POSTSCRIPT, 12, found), 0);
  EXPECT_EQ(found, "untouched");
  // Every search after the first is answered without opening a file again.
  EXPECT_EQ(ppdCandidateFilesOpened() - openedBefore, 5);
  std::string expectedLog;
  for (int search = 0; search < 6; ++search) expectedLog += "C\xF3mo PPD de la gu\xED" "a: " + dir + "\n";
  expectedLog += "C\xF3mo PPD de la gu\xED" "a: " + tree_.root() + "/missing\n";
  EXPECT_EQ(tree_.log(), expectedLog);
}

TEST_F(QueueScan, ReadPpdModelReadsCompressedAndPlainCandidates) {
  std::string gz = tree_.root() + "/duo.ppd.gz";
  gzipInto(kNewDuoPs, gz);
  int kind = 0;
  int id = 0;
  EXPECT_EQ(readPpdModel(gz, kind, id), "\"Tamra Cendra 2100 Duo PS\"");
  EXPECT_EQ(kind, PDL_POSTSCRIPT);
  EXPECT_EQ(id, 9);
  EXPECT_EQ(readPpdModel(kNewCendraPcl, kind, id), "\"Tamra Cendra 2100 PCL\"");
  EXPECT_EQ(kind, PDL_PCL);
  EXPECT_EQ(readPpdModel(tree_.root() + "/none.ppd", kind, id), std::nullopt);
}

struct InfoCase {
  const char* what;
  int kind;
  std::string fileName;
  std::string content;
  int result;
  std::vector<std::string> names;  // the list afterwards
  int infoCount;
};

TEST(ReadInfoPrinters, ReadsThePrintersBlock) {
  const std::string longName(90, 'n');
  const InfoCase cases[] = {
      {"one name", 2, "mivoInfo4.0",
       "USRDIR=/opt/orv\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\n%%ZEBBLOCK_PRINTERS_END\n", 1, {"Default"}, 1},
      {"trimmed names, empty entry, no end marker", 2, "mivoInfo4.0",
       "%%ZEBBLOCK_PRINTERS_BEGIN  \nOffice  \n\nLab\n" + longName + "\n", 1,
       {"Office", "", "Lab", longName.substr(0, 79)}, 4},
      {"empty block keeps the old head", 2, "mivoInfo4.0",
       "%%ZEBBLOCK_PRINTERS_BEGIN\n%%ZEBBLOCK_PRINTERS_END\n", 1, {"Old"}, 0},
      {"older information file for kind 1", 1, "mivoInfo2.0",
       "%%ZEBBLOCK_PRINTERS_BEGIN\nA\nB\n%%ZEBBLOCK_PRINTERS_END\nC\n", 1, {"A", "B"}, 2},
      {"CR LF lines never match the markers", 2, "mivoInfo4.0",
       "%%ZEBBLOCK_PRINTERS_BEGIN\r\nA\r\n%%ZEBBLOCK_PRINTERS_END\r\n", 0, {"Old", "Older"}, 77},
      {"no block", 2, "mivoInfo4.0", "USRDIR=/opt/orv\n", 0, {"Old", "Older"}, 77},
      {"kind 2 does not read the older file", 2, "mivoInfo2.0",
       "%%ZEBBLOCK_PRINTERS_BEGIN\nA\n%%ZEBBLOCK_PRINTERS_END\n", 0, {"Old", "Older"}, 77},
  };
  for (const InfoCase& c : cases) {
    SCOPED_TRACE(c.what);
    QueueTestTree tree;
    runSettings().installDir = tree.root();
    runSettings().infoPrinterCount = 77;
    writeWhole(tree.root() + "/" + c.fileName, c.content);
    QueueList list;
    list.head().name = "Old";
    list.head().model = "kept";
    addPList(&list, QueueRecord{"", "", "Older", 0, 0});
    EXPECT_EQ(readInfoPrinters(c.kind, list), c.result);
    std::vector<std::string> names;
    for (const QueueRecord& record : list.records) names.push_back(record.name);
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(list.head().model, "kept");
    EXPECT_EQ(runSettings().infoPrinterCount, c.infoCount);
  }
}

using Captured = std::vector<std::pair<std::string, std::string>>;

Captured pairsOf(const OptionList& list) {
  Captured pairs;
  for (const OptionRecord& record : list.records) pairs.emplace_back(record.keyword, record.value);
  return pairs;
}

TEST(CaptureOptions, DefaultsOfTopLevelGroupsInOrder) {
  OptionList list;
  unsigned count = 99;
  EXPECT_EQ(captureOptions(kOldCendraPs, list, count), 7);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(pairsOf(list), (Captured{{"PageSize", "A4"}, {"PageRegion", "A4"}, {"InputSlot", "Tray1"},
                                     {"MediaType", "Plain"}, {"Resolution", "300dpi"},
                                     {"TamraTonerSave", "True"}, {"JCLDensity", "Light"}}));
  freeOptionList(&list);
  EXPECT_TRUE(list.records.empty());

  QueueTestTree tree;
  std::string path = tree.root() + "/sub.ppd";
  writeWhole(path,
             "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
             "*LanguageEncoding: ISOLatin1\n*PCFileName: \"SUB.PPD\"\n*Manufacturer: \"Tamra\"\n"
             "*Product: \"(Sub)\"\n*ModelName: \"Tamra Cendra 1100 PS\"\n*NickName: \"Sub\"\n"
             "*ShortNickName: \"Sub\"\n*OpenGroup: Main\n*OpenUI *Top: PickOne\n*DefaultTop: B\n"
             "*Top A: \"\"\n*Top B: \"\"\n*CloseUI: *Top\n*OpenSubGroup: Inner\n*OpenUI *Deep: PickOne\n"
             "*DefaultDeep: Y\n*Deep X: \"\"\n*Deep Y: \"\"\n*CloseUI: *Deep\n*CloseSubGroup: Inner\n"
             "*OpenUI *Custom: PickOne\n*DefaultCustom: Elsewhere\n*Custom P: \"\"\n*CloseUI: *Custom\n"
             "*CloseGroup: Main\n");
  count = 99;
  // libcups files the options of a sub-group under its group, so they are
  // captured too; a default that is not among the choices is not.
  EXPECT_EQ(captureOptions(path, list, count), 2);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(pairsOf(list), (Captured{{"Top", "B"}, {"Deep", "Y"}}));

  freeOptionList(&list);
  count = 99;
  EXPECT_EQ(captureOptions(tree.root() + "/missing.ppd", list, count), 0);
  EXPECT_EQ(count, 99u);
  EXPECT_TRUE(list.records.empty());
}

TEST(KeepOfferedDefaults, ADefaultTheNewPpdDoesNotOfferIsLeftOut) {
  QueueTestTree tree;
  OptionList captured;
  for (auto [keyword, value] : Captured{{"PageSize", "A4"}, {"InputSlot", "Manual"}, {"MediaType", "Thick"},
                                        {"MediaType", "Transparency"}, {"NoSuchOption", "X"}})
    captured.records.push_back({keyword, value});
  OptionList kept = keepOfferedDefaults(kNewCendraPs, captured);
  EXPECT_EQ(pairsOf(kept), (Captured{{"PageSize", "A4"}, {"MediaType", "Thick"}}));
  EXPECT_EQ(tree.log(),
            "Default InputSlot/Manual is not offered by the new PPD; its own default stays.\n"
            "Default MediaType/Transparency is not offered by the new PPD; its own default stays.\n");
  EXPECT_EQ(pairsOf(keepOfferedDefaults(tree.root() + "/unreadable.ppd", captured)), pairsOf(captured));
}

}  // namespace
