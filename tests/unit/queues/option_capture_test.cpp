#include "queues/option_capture.h"

#include <gtest/gtest.h>

#include "queue_test_support.h"

namespace {

const std::string kOldPs = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
const std::string kNewPs = sourcePath("dist/ppd/tamra_cendra2100_ps.ppd");

TEST(CaptureOptions, EveryDefaultOfEveryTopLevelOptionIncludingJcl) {
  QueueTestTree tree;
  OptionList list;
  unsigned count = 99;
  EXPECT_EQ(captureOptions(kOldPs, list, count), 7);
  EXPECT_EQ(count, 7u);
  std::vector<std::string> keywords;
  for (const OptionRecord& r : list.records) keywords.push_back(r.keyword + "=" + r.value);
  EXPECT_EQ(keywords, (std::vector<std::string>{"PageSize=A4", "PageRegion=A4", "InputSlot=Tray1", "MediaType=Plain",
                                                "Resolution=300dpi", "TamraTonerSave=True", "JCLDensity=Light"}));
  count = 99;
  OptionList none;
  EXPECT_EQ(captureOptions(tree.root() + "/missing.ppd", none, count), 0);
  EXPECT_EQ(count, 99u);
  // A custom size stands for the option's Custom choice.
  std::string custom = readWhole(kOldPs);
  custom.replace(custom.find("*DefaultPageSize: A4"), 20, "*DefaultPageSize: Custom.612x1008");
  writeWhole(tree.root() + "/custom.ppd", custom + "*CustomPageSize True: \"pop\"\n");
  OptionList withCustom;
  ASSERT_EQ(captureOptions(tree.root() + "/custom.ppd", withCustom, count), 7);
  EXPECT_EQ(withCustom.records.front().value, "Custom.612x1008");
}

TEST(SplitCarried, WhatTheNewPpdDeclaresDecidesWithoutRegardToCase) {
  QueueTestTree tree;
  DeclaredOptions declared{{{"pagesize", {"letter", "a4", "custom"}}, {"duplex", {"none", "duplextumble"}}}};
  OptionList captured{{{"PageSize", "Letter"},
                       {"PAGESIZE", "custom.612x792"},
                       {"Duplex", "DuplexNoTumble"},
                       {"ColorModel", "Gray"},
                       {"pagesize", "{612 792}"},
                       {"Duplex", "NONE"}}};
  OptionList carried;
  std::vector<ReportDefault> dropped;
  splitCarried(declared, captured, carried, dropped);
  std::vector<std::string> kept;
  for (const OptionRecord& r : carried.records) kept.push_back(r.keyword + "=" + r.value);
  EXPECT_EQ(kept, (std::vector<std::string>{"PageSize=Letter", "PAGESIZE=custom.612x792", "pagesize={612 792}",
                                            "Duplex=NONE"}));
  ASSERT_EQ(dropped.size(), 2u);
  EXPECT_EQ(dropped[0].reason, "choice-not-offered");
  EXPECT_EQ(dropped[1].reason, "option-not-declared");
  EXPECT_EQ(tree.log(),
            "Default Duplex/DuplexNoTumble is not offered by the new PPD; its own default stays.\n"
            "Default ColorModel/Gray: the new PPD has no such option; not carried.\n");

  // A custom size stays behind where the new PPD takes no custom sizes.
  DeclaredOptions noCustom{{{"pagesize", {"letter", "a4"}}}};
  OptionList customOnly{{{"PageSize", "Custom.612x792"}}}, none;
  std::vector<ReportDefault> droppedCustom;
  splitCarried(noCustom, customOnly, none, droppedCustom);
  EXPECT_TRUE(none.records.empty());
  ASSERT_EQ(droppedCustom.size(), 1u);
  EXPECT_EQ(droppedCustom[0].reason, "choice-not-offered");
}

TEST(DeclaredOptions, ReadByLibcupsOrNothing) {
  std::optional<DeclaredOptions> declared = declaredOptions(readWhole(kNewPs));
  ASSERT_TRUE(declared);
  EXPECT_EQ(declared->choicesByKeyword.at("resolution"), (std::set<std::string>{"600dpi", "1200dpi"}));
  EXPECT_EQ(declared->choicesByKeyword.count("jcldensity"), 1u);
  EXPECT_FALSE(declaredOptions("not a PPD\n"));
  EXPECT_FALSE(declaredOptions(""));
}

}  // namespace
