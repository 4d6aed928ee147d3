#include "install/install_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallDir, SystemDirectoriesAreRefusedWhateverTheSpelling) {
  const std::tuple<std::string, std::string, std::string, bool> cases[] = {
      {"/opt/orv", "/", "/opt/orv", true},
      {"/opt/orv/", "/", "/opt/orv", true},
      {"/srv/x/../y", "/", "/srv/y", true},
      {"mivo", "/srv", "/srv/mivo", true},
      {"/usr/local/orv", "/", "/usr/local/orv", true},
      {"/home/admin/mivo", "/", "/home/admin/mivo", true},
      {"/", "/", "/", false},
      {"//", "/", "/", false},
      {"/.", "/", "/", false},
      {"/tmp/..", "/", "/", false},
      {"..", "/srv", "/", false},
      {"/opt", "/", "/opt", false},
      {"/usr/bin", "/", "/usr/bin", false},
      {"/var/lib", "/", "/var/lib", false},
      {"/etc/cups", "/", "/etc/cups", false},
      {"/usr/local/bin", "/", "/usr/local/bin", false},
      {"/usr/share/ppd", "/", "/usr/share/ppd", false},
  };
  for (const auto& [given, base, canonical, usable] : cases) {
    InstallDirVerdict verdict = checkInstallDir(given, base);
    EXPECT_EQ(verdict.dir, canonical) << given;
    EXPECT_EQ(verdict.refusal.empty(), usable) << given << ": " << verdict.refusal;
  }
  EXPECT_FALSE(checkInstallDir("", "/").refusal.empty());
}

}  // namespace
