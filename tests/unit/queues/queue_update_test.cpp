#include "queues/queue_update.h"

#include <gtest/gtest.h>

namespace {

TEST(RaiseConfigVersion, MarkerPiecesAreReplacedOthersCopied) {
  const std::string p255(255, 'p');
  const std::pair<std::string, std::string> cases[] = {
      {"x %%MIVO_VERSION_1.0 y\r\n%%MIVO_VERSION_2.0\n", "%%MIVO_VERSION_3.0\n%%MIVO_VERSION_2.0\n"},
      {p255 + "%%MIVO_VERSION_1.0", p255 + "%%MIVO_VERSION_3.0\n"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(raiseConfigVersion(input), expected);
}

TEST(BackupPath, BesideThePpdDirectoryUnderTheQueuesOwnName) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"/etc/cups/ppd/Office.ppd", "Office", "/etc/cups/Office.ppd.rpmsave"},
      {"/etc/cups/ppd/Office.ppd.O", "Office", "/etc/cups/Office.ppd.O.rpmsave"},  // not the queue's own PPD
      {"/srv/ppdhost/etc/cups/ppd/Lab.ppd", "Lab", "/srv/Lab.ppd.rpmsave"},        // cut at the first "/ppd"
      {"/var/spool/Lab.ppd", "Lab", "/var/spool/Lab.ppdLab.ppd.rpmsave"},
  };
  for (const auto& [ppd, name, backup] : cases) EXPECT_EQ(backupPathFor(ppd, name), backup) << ppd;
}

}  // namespace
