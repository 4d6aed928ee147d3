#include "install/install_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../test_support.h"
#include "install/info_file.h"

namespace fs = std::filesystem;

// Whatever its name, a directory is taken only when it is new, empty and
// root's, the tree itself, or root's installation of the product.
TEST(InstallDir, OnlyANewEmptyOwnOrProductDirectoryIsTaken) {
  REQUIRE_ROOT();
  TempDir tmp;
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "tree/bin");
  writeWhole(tmp / "home/alice/notes", "mine");
  ::chown((tmp / "home/alice").c_str(), 65534, 65534);
  fs::create_directory_symlink(tmp / "empty", tmp / "home/alice/mivo");
  ::lchown((tmp / "home/alice/mivo").c_str(), 65534, 65534);
  std::filesystem::create_directories(tmp / "home/bob");
  ::chown((tmp / "home/bob").c_str(), 65534, 65534);
  writeWhole(tmp / "data/db", "x");
  writeWhole(tmp / "product/mivoInfo4.0", infoFileText(tmp / "product"));
  writeWhole(tmp / "planted/mivoInfo4.0", infoFileText(tmp / "planted"));
  ::chown((tmp / "planted/mivoInfo4.0").c_str(), 65534, 65534);
  writeWhole(tmp / "recorded/bin/setup", "x");
  writeWhole(tmp / "file", "x");
  fs::create_directories(tmp / "open");
  ::chmod((tmp / "open").c_str(), 0777);
  using R = InstallDirRefusal;
  const std::tuple<std::string, std::string, R, bool> cases[] = {
      {tmp / "new/mivo", tmp / "new/mivo", R::None, false},
      {"mivo", tmp / "mivo", R::None, false},  // relative to the working directory
      {tmp / "empty/", tmp / "empty", R::None, true},
      {tmp / "tree", tmp / "tree", R::None, true},          // installed in place
      {tmp / "product", tmp / "product", R::None, true},    // root's installation
      {tmp / "recorded", tmp / "recorded", R::None, true},  // the record names it
      {"/mivo", "/mivo", R::None, false},                   // a new top-level directory
      {tmp / "data", tmp / "data", R::NotTheProducts, true},
      {tmp / "planted", tmp / "planted", R::NotTheProducts, true},
      {tmp / "home/alice", tmp / "home/alice", R::NotTheProducts, true},
      {tmp / "home/bob", tmp / "home/bob", R::NotRootOnly, true},  // empty, but not root's
      {tmp / "home/alice/mivo", tmp / "empty", R::NotRootOnly, true},  // her link leads elsewhere
      {tmp / "open/new", tmp / "open/new", R::NotRootOnly, false},
      {tmp / "file", tmp / "file", R::NotADirectory, true},
      {"/", "/", R::System, true},
      {"/tmp/..", "/", R::System, true},
      {"/opt", "/opt", R::System, true},
      {"/usr/bin", "/usr/bin", R::System, true},
      {"/usr/local", "/usr/local", R::System, true},
      {"/var/tmp", "/var/tmp", R::System, true},
      {"/etc/cups", "/etc/cups", R::System, true},
      {"/usr/share/ppd", "/usr/share/ppd", R::System, true},
      {"", "", R::Empty, false},
  };
  for (const auto& [given, canonical, refusal, exists] : cases) {
    InstallDirVerdict verdict = checkInstallDir(given, tmp.root(), tmp / "tree", tmp / "recorded");
    EXPECT_EQ(verdict.dir, canonical) << given;
    EXPECT_EQ(verdict.refusal, refusal) << given;
    EXPECT_EQ(verdict.exists, exists) << given;
  }
}
