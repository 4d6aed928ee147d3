#include "install/install_engine.h"

#include <gtest/gtest.h>

namespace {

const std::string kInstall = "/opt/orv";
const std::string kPpd = "/usr/share/ppd/orv";

TEST(CopyTarget, ByDestinationCode) {
  struct Case {
    const char* destination;
    std::optional<CopyTarget> target;
  };
  for (const Case& c : {
           Case{".", CopyTarget{"/opt/orv/bin/setup", false}},
           Case{"/", CopyTarget{"/opt/orv/bin/setup", false}},
           Case{"./bin", CopyTarget{"/opt/orv/bin", true}},
           Case{"./x", CopyTarget{"/opt/orv/x", true}},
           Case{"/usr/lib/x", CopyTarget{"/usr/lib/x", true}},
           Case{"/xy", CopyTarget{"/xy", true}},
           Case{"?", CopyTarget{kPpd, true}},
           Case{"", std::nullopt},
           Case{"./", std::nullopt},
           Case{"/x", std::nullopt},
           Case{"?x", std::nullopt},
           Case{"bin", std::nullopt},
       }) {
    InstallItem item{"bin/setup", c.destination, 0};
    EXPECT_EQ(copyTargetFor(item, kInstall, kPpd), c.target) << c.destination;
  }
}

TEST(CopyTarget, WhatIsCopied) {
  CopyTarget dir{"/opt/orv/bin", true};
  CopyTarget ppd{kPpd, true};
  EXPECT_TRUE(isCopied({"abc", "./bin", 0}, dir, false));
  EXPECT_FALSE(isCopied({"ab", "./bin", 0}, dir, false));
  EXPECT_TRUE(isCopied({"nc", "./bin", 0}, dir, false));
  EXPECT_FALSE(isCopied({"abc", "/xy", 0}, CopyTarget{"/x", true}, false));
  EXPECT_FALSE(isCopied({"abc", "./bin", 0}, dir, true));
  EXPECT_TRUE(isCopied({"ppd/a.ppd", "?", 0}, ppd, true));
}

TEST(CopyTarget, CommandQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(copyCommand("/usr/bin/cp", {"bin/setup", "./bin", 0}, {"/opt/orv/bin", true}),
            "/usr/bin/cp  bin/setup /opt/orv/bin");
  EXPECT_EQ(copyCommand("cp", {"a;touch x", "?", 0}, {"/srv/my dir", true}),
            "cp  'a;touch x' '/srv/my dir'");
  EXPECT_EQ(copyCommand("cp", {"$(id)'q", "?", 0}, {"/d", true}), "cp  '$(id)'\\''q' /d");
  EXPECT_EQ(copyCommand("cp", {"-rf", "?", 0}, {"/d", true}), "cp  ./-rf /d");
}

TEST(CopyTarget, ModeIsSetOnTheInstalledFile) {
  EXPECT_EQ(installedFilePath({"bin/setup", "./bin", 0755}, {"/opt/orv/bin", true}),
            "/opt/orv/bin/setup");
  EXPECT_EQ(installedFilePath({"setup", "./bin", 0755}, {"/opt/orv/bin", true}),
            "/opt/orv/bin/setup");
  EXPECT_EQ(installedFilePath({"etc/a.conf", ".", 0644}, {"/opt/orv/etc/a.conf", false}),
            "/opt/orv/etc/a.conf");
}

}  // namespace
