#include "queues/option_capture.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "../test_support.h"

const std::string kOldPs = sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
const std::string kNewPs = sourcePath("dist/ppd/tamra_cendra2100_ps.ppd");

TEST(CaptureOptions, EveryDefaultOfEveryTopLevelOptionOrWhyNone) {
  OptionList list;
  unsigned count = 99;
  std::string text = readWhole(kOldPs);
  EXPECT_EQ(captureOptions(text, list, count), 7);
  std::vector<std::string> keywords;
  for (const OptionRecord& r : list.records) keywords.push_back(r.keyword + "=" + r.value);
  EXPECT_EQ(keywords, (std::vector<std::string>{"PageSize=A4", "PageRegion=A4", "InputSlot=Tray1", "MediaType=Plain",
                                                "Resolution=300dpi", "TamraTonerSave=True", "JCLDensity=Light"}));
  text.replace(text.find("*DefaultPageSize: A4"), 20, "*DefaultPageSize: Custom.612x1008");
  OptionList custom;
  captureOptions(text + "*CustomPageSize True: \"pop\"\n", custom, count);
  EXPECT_EQ(custom.records.front().value, "Custom.612x1008");
  std::string why;
  OptionList none;
  count = 99;
  EXPECT_EQ(captureOptions("not a PPD\n", none, count, &why), 0);
  EXPECT_EQ(count, 99u);
  EXPECT_NE(why.find("libcups no la lee como PPD"), std::string::npos);
  // A text the host cannot hold whole for libcups is never read in part.
  rlimit was{};
  ::getrlimit(RLIMIT_FSIZE, &was);
  rlimit small = was;
  small.rlim_cur = 1024;
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  int result = captureOptions(readWhole(kOldPs), none, count, &why);
  ::setrlimit(RLIMIT_FSIZE, &was);
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, -1);
  EXPECT_NE(why.find("'memfd:ppd' no se puede escribir"), std::string::npos) << why;
}

// What the new PPD offers decides, without regard to case, and a carried
// choice takes the new PPD's own spelling.
TEST(SplitCarried, TheNewPpdDecidesAndSpells) {
  ScratchHost host;
  std::optional<DeclaredOptions> declared = declaredOptions(
      "*PPD-Adobe: \"4.3\"\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n*PageSize Letter: \"\"\n"
      "*PageSize A4: \"\"\n*CloseUI: *PageSize\n*CustomPageSize True: \"pop\"\n*OpenUI *MediaType: PickOne\n"
      "*DefaultMediaType: Plain\n*MediaType Plain: \"\"\n*MediaType THICK: \"\"\n*CloseUI: *MediaType\n");
  ASSERT_TRUE(declared);
  EXPECT_EQ(declared->byKeyword.at("pagesize").defaultChoice, "Letter");
  OptionList captured{{{"PageSize", "a4"},
                       {"PAGESIZE", "Custom.612x792"},
                       {"MediaType", "Thick"},
                       {"MediaType", "Glossy"},
                       {"ColorModel", "Gray"},
                       {"pagesize", "Custom.\"x\""}}};
  OptionList carried;
  std::vector<ReportNotCarried> dropped;
  splitCarried(*declared, captured, carried, dropped);
  std::vector<std::string> kept;
  for (const OptionRecord& r : carried.records) kept.push_back(r.keyword + "=" + r.value);
  EXPECT_EQ(kept, (std::vector<std::string>{"PageSize=A4", "PAGESIZE=Custom.612x792", "MediaType=THICK"}));
  std::vector<NotCarriedReason> reasons;
  for (const ReportNotCarried& d : dropped) reasons.push_back(d.reason);
  EXPECT_EQ(reasons, (std::vector<NotCarriedReason>{NotCarriedReason::ChoiceNotOffered,
                                                     NotCarriedReason::OptionNotDeclared,
                                                     NotCarriedReason::ValueNotWritable}));
  EXPECT_EQ(captured.records.size(), carried.records.size() + dropped.size());  // every one lands on one side
  EXPECT_NE(host.log().find("Predeterminado MediaType/Glossy: la nueva PPD no ofrece esa opci\xF3n"),
            std::string::npos);
  EXPECT_FALSE(declaredOptions(""));
  EXPECT_TRUE(declaredOptions(readWhole(kNewPs)));
}
