#include "queues/queue_inventory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../test_support.h"

TEST(QueueInventory, ModelsVersionsAndTheOneRuleForQueueNames) {
  int kind = -1, id = -1;
  EXPECT_EQ(identifyModel("*ModelName: \"Tamra Cendra 2100 PS\"\n", kind, id), "\"Tamra Cendra 2100 PS\"\n");
  EXPECT_EQ(std::tie(kind, id), std::make_tuple(static_cast<int>(PDL_POSTSCRIPT), 12));
  EXPECT_FALSE(identifyModel("*ModelName: \"Acme Writer 9 PS\"\n", kind, id));
  EXPECT_EQ(kind, PDL_POSTSCRIPT);  // the kind is set for every model line
  EXPECT_FALSE(identifyModel("*NickName: x", kind, id));
  const std::pair<const char*, int> versions[] = {{"*% Mivo version: 1.0", 1}, {"*% Mivo version:12", 1},
                                                  {"*% Mivo version: x", -1}, {"*% other", -1}};
  for (const auto& [line, digit] : versions) EXPECT_EQ(readMivoVersion(line), digit) << line;
  const std::pair<std::string, std::optional<std::string>> names[] = {
      {"Office.ppd", "Office"},         {"a.ppd.ppd", "a.ppd"},          {"Office.ppd.O", std::nullopt},
      {"Office.ppd~", std::nullopt},    {"Office.ppd.rpmnew", std::nullopt}, {".ppd", std::nullopt},
      {"...ppd", std::nullopt},         {"  .ppd", std::nullopt},        {std::string(79, 'L') + ".ppd", std::string(79, 'L')},
      {std::string(80, 'L') + ".ppd", std::nullopt}, {".zebtmpAb12Cd", std::nullopt},
  };
  for (const auto& [file, name] : names) EXPECT_EQ(queueNameOfPpdFile(file), name) << file;
}

// Each queue once: the scheduler's own copies, hostile files and leftovers are never queues.
TEST(QueueInventory, TheScanFindsEachProductQueueOnce) {
  ScratchHost host;
  const std::string dir = host / "etc/cups/ppd", old = readWhole(sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd"));
  for (const char* name : {"Office.ppd", "Office.ppd.O", "Lab.ppd", ".ppd", ".zebtmpAb12Cd"}) writeWhole(dir + "/" + name, old);
  writeWhole(dir + "/V2.ppd", "*ModelName: \"Tamra Cendra 2100 PS\"\n*% Mivo version: 2\n");
  writeWhole(dir + "/Late.ppd", std::string(30, '\n') + "*ModelName: \"Tamra Cendra 2100 PS\"\n*% Mivo version: 1\n");
  ::mkfifo((dir + "/Fifo.ppd").c_str(), 0600);  // would block a plain open
  std::filesystem::create_directory(dir + "/Directory.ppd");
  std::filesystem::create_symlink(dir + "/Lab.ppd", dir + "/Link.ppd");
  PpdCandidates candidates;
  QueueList list;
  int count = -1;
  EXPECT_EQ(scanQueuePpds(list, count, candidates), 1);
  std::vector<std::string> found;
  for (int i = 0; i < count; ++i) found.push_back(list.records[i].name);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"Lab", "Office"}));
  EXPECT_NE(host.log().find("no puede nombrar una cola: '.ppd'"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir + "/.zebtmpAb12Cd"));  // a killed run's leftover goes
}
