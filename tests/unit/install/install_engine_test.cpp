#include "install/install_engine.h"

#include <gtest/gtest.h>

namespace {

const std::string kInstall = "/opt/orv";
const std::string kPpd = "/usr/share/ppd/orv";

TEST(CopyTarget, ByDestinationCode) {
  const std::pair<const char*, std::optional<CopyTarget>> cases[] = {
      {".", CopyTarget{"/opt/orv/bin/setup", false}},
      {"/", CopyTarget{"/opt/orv/bin/setup", false}},
      {"./bin", CopyTarget{"/opt/orv/bin", true}},
      {"./x", CopyTarget{"/opt/orv/x", true}},
      {"/usr/lib/x", CopyTarget{"/usr/lib/x", true}},
      {"/xy", CopyTarget{"/xy", true}},
      {"?", CopyTarget{kPpd, true}},
      // No code: not copied.
      {"", std::nullopt},
      {"./", std::nullopt},
      {"/x", std::nullopt},
      {"?x", std::nullopt},
      {"bin", std::nullopt},
  };
  for (const auto& [destination, target] : cases)
    EXPECT_EQ(copyTargetFor({"bin/setup", destination, 0}, kInstall, kPpd), target) << destination;
}

TEST(CopyTarget, WhatIsCopied) {
  CopyTarget dir{"/opt/orv/bin", true};
  EXPECT_TRUE(isCopied({"abc", "./bin", 0}, dir, false));
  EXPECT_FALSE(isCopied({"ab", "./bin", 0}, dir, false));
  EXPECT_TRUE(isCopied({"nc", "./bin", 0}, dir, false));
  EXPECT_FALSE(isCopied({"abc", "/xy", 0}, CopyTarget{"/x", true}, false));
}

TEST(CopyTarget, ModeIsSetOnTheInstalledFile) {
  const CopyTarget bin{"/opt/orv/bin", true};
  EXPECT_EQ(installedFilePath({"setup", "./bin", 0755}, bin), "/opt/orv/bin/setup");
  EXPECT_EQ(installedFilePath({"etc/a.conf", ".", 0644}, {"/opt/orv/etc/a.conf", false}), "/opt/orv/etc/a.conf");
}

}  // namespace
