#include "services/ownership_record.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "../test_support.h"

TEST(OwnershipRecord, ReadsBackWhatItWroteBytesIncluded) {
  OwnershipRecord record;
  record.installDir = "/opt/orv";
  record.installDirMade = true;
  record.addMadeDirectory("/opt/orv/bin");
  record.setFile({"/opt/orv/bin/setup", std::string(64, 'a'), 0755});
  record.setFile({"/opt/orv/bin/setup", std::string(64, 'b'), 0750});  // replaces
  record.queueEntry("q\xE9") = {"q\xE9", "/etc/cups/ppd/q\xE9.ppd", "11", "/etc/cups/q\xE9.ppd.rpmsave", "22"};
  record.queueEntry("hex:x").ppd = "/etc/cups/ppd/hex:x.ppd";
  for (int i = 0; i < 30; ++i) record.addRun("{\"run\": " + std::to_string(i) + "}\n");
  std::optional<OwnershipRecord> back = parseRecord(recordJson(record));
  ASSERT_TRUE(back);
  EXPECT_EQ(recordJson(*back), recordJson(record));
  EXPECT_EQ(back->file("/opt/orv/bin/setup")->mode, 0750u);
  EXPECT_EQ(back->queue("q\xE9")->backup, "/etc/cups/q\xE9.ppd.rpmsave");
  EXPECT_EQ(back->queue("hex:x")->ppd, "/etc/cups/ppd/hex:x.ppd");
  EXPECT_EQ(back->runs.size(), kRecordedRuns);
  EXPECT_EQ(nlohmann::json::parse(back->runs.front())["run"], 10);
  record.forgetDirectory("/opt/orv");
  EXPECT_TRUE(record.files.empty() && record.directoriesMade.empty());
  for (const char* text : {"", "{}", "{\"schemaVersion\": 2}", "[1]"}) EXPECT_FALSE(parseRecord(text)) << text;
}

// A record is believed only from root: another's file, or one that others
// may write, is not, and the run says it takes the safest reading.
TEST(OwnershipRecord, OnlyRootsOwnRecordIsBelieved) {
  REQUIRE_ROOT();
  const std::tuple<uid_t, mode_t, mode_t, bool> cases[] = {
      {0, 0644, 0755, true}, {65534, 0644, 0755, false}, {0, 0666, 0755, false}, {0, 0644, 0777, false}};
  for (const auto& [owner, mode, dirMode, believed] : cases) {
    ScratchHost host;
    OwnershipRecord record;
    record.installDir = "/srv/mivo";
    productRecord() = record;
    ASSERT_TRUE(saveProductRecord(nullptr));
    std::string path = host / "var/lib/mivo/Mivo4.0_Record.json";
    ::chown(path.c_str(), owner, 0);
    ::chmod(path.c_str(), mode);
    ::chmod((host / "var/lib/mivo").c_str(), dirMode);
    loadProductRecord();
    EXPECT_EQ(productRecordFound(), believed);
    EXPECT_EQ(productRecord().installDir, believed ? "/srv/mivo" : "");
    EXPECT_EQ(runReport().errors().empty(), believed);
  }
}
