#include "ppd/model_dir_links.h"

#include <gtest/gtest.h>

#include "../test_support.h"

// The log tells of a directory made exactly when it was made.
TEST(PpdInstallDir, ADirectoryIsToldAsMadeOnceAndOnlyWhenItWas) {
  ScratchHost host;
  writeWhole(host / "usr/share/ppd/file", "x");
  for (int run = 0; run < 2; ++run) {
    settlePpdInstallDir({host / "usr/share/ppd/orv", InstallDirAction::Settle});
    settlePpdInstallDir({host / "usr/share/ppd/file/orv", InstallDirAction::Settle});  // cannot be made
  }
  const std::string log = host.log(), made = "Directorio creado: '" + host / "usr/share/ppd/orv'.";
  EXPECT_NE(log.find(made), std::string::npos);
  EXPECT_EQ(log.find(made), log.rfind(made));
  EXPECT_EQ(log.find("file/orv'."), std::string::npos);
}
