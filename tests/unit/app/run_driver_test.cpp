#include "app/run_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../test_support.h"
#include "install/install_manifest.h"
#include "services/run_settings.h"

namespace {

TEST(OptionPasses, EachPassTakesOnlyItsOwnOptions) {
  resetRunSettings();
  std::vector<std::string> words{"setup",      "-d",  "-f0", "-S", "abc", "-q", "-5",    "-u", "/srv/x/", "-i",
                                 "OTHER.CONF", "-D3", "-m",  "7",  "-w",  "/x", "extra", "-Z", "2junk"};
  firstOptionPass(words);
  RunSettings& s = runSettings();
  EXPECT_EQ(s.uninstallRequested, 1);
  EXPECT_EQ(s.allowAnyDir, 0);
  EXPECT_EQ(s.seLinuxMode, 0);          // "abc" reads as 0
  EXPECT_EQ(s.installDir, "/opt/orv");  // second-pass options untouched
  EXPECT_EQ(s.queryMode, 0);

  secondOptionPass(words);    // reads nothing unless the parser was reset
  EXPECT_EQ(s.queryMode, 0);  // negative stored as 0
  EXPECT_EQ(s.installDir, "/srv/x/");
  EXPECT_EQ(s.manifestName, "OTHER.CONF");
  EXPECT_EQ(s.debugLevel, 2);  // -Z after -D wins; leading number of "2junk"
}

// Each pass reads the words as given: the first pass's parser must not move
// an operand behind the options for the second pass to take as an argument.
TEST(OptionPasses, EveryPassSeesTheUntouchedCommandLine) {
  const std::vector<std::string> words{"./bin/setup", "-f", "1", "/srv/elsewhere", "-u"};
  std::vector<OptionWord> first = optionWords(words, false);
  EXPECT_EQ(optionWords(words, false), first);
  EXPECT_EQ(first, (std::vector<OptionWord>{{'f', "1"}, {'?', ""}}));
  resetRunSettings();
  firstOptionPass(words);
  secondOptionPass(words);
  EXPECT_EQ(runSettings().installDir, "/opt/orv");
}

// Nothing of a run outlives it: a second run in the same process starts from
// what resetRunSettings gives, not from what the first one read.
TEST(RunState, ASecondRunInOneProcessStartsFromScratch) {
  TempDir first, second;
  writeWhole(first.root() + "/etc/MIVOINST.CONF", "bin/setup ./bin 00755\netc/one ./etc\n");
  writeWhole(second.root() + "/etc/MIVOINST.CONF", "bin/other ./bin\n");
  std::vector<size_t> tables;
  for (const TempDir* tree : {&first, &second}) {
    resetRunSettings();
    RunSettings& s = runSettings();
    EXPECT_TRUE(s.installTable.empty() && s.modelLinks.empty() && s.candidateIndex.empty() && !s.installTreeReady);
    s.sourceDir = tree->root();
    s.startDir = "/";
    tables.push_back(static_cast<size_t>(getInfoData()));
    EXPECT_EQ(s.installTable.front().source, tree == &first ? "bin/setup" : "bin/other");
    s.installTreeReady = true;
    s.candidateIndex["/x"] = {};
  }
  EXPECT_EQ(tables, (std::vector<size_t>{2, 1}));
  resetRunSettings();
}

TEST(FindSourceDir, StartPathGivesTheDirectoryToInstallFrom) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const std::pair<const char*, std::string> cases[] = {
      {"/setup", "/setup"},  // a slash only at the start keeps the path whole
      {"./setup", cwd},      // relative: the working directory
      {"setup", cwd},
      {"/opt/orvX/setup", "/opt/orvX"},
  };
  for (const auto& [start, expected] : cases) {
    resetRunSettings();
    findSourceDir(start);
    EXPECT_EQ(runSettings().sourceDir, expected) << start;
  }
}

}  // namespace
