#include "queues/ppd_transplant.h"

#include <gtest/gtest.h>

#include "queue_test_support.h"
#include "queues/queue_update.h"

namespace {

std::string transplant(const std::string& input, const OptionList& options,
                       std::vector<std::string>* written = nullptr) {
  std::string out;
  EXPECT_EQ(processNewPPD(input, out, options, static_cast<int>(options.records.size()), written), 0);
  return out;
}

TEST(ParseDefaultLine, KeywordAndFirstTokenOfTheValue) {
  const std::string k100(100, 'K'), v100(100, 'v');
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {"*DefaultLabel: \"two words\"\n", "*Label", "\"two"},
      {"*DefaultTray:   \n", "*Tray", ""},
      {"*DefaultTab: a\tb c", "*Tab", "a\tb"},
      {"*DefaultSpace :x\n", "*Space", ":x"},
      {"*Default" + k100 + ": X\n", "*" + k100.substr(0, 78), "X"},  // cut at the limits
      {"*Default" + std::string(78, 'k') + ": X\n", "*" + std::string(78, 'k'), "X"},
      {"*DefaultLong: " + v100 + "\n", "*Long", v100.substr(0, 79)},
      {"*DefaultLong: " + std::string(79, 'v') + "\n", "*Long", std::string(79, 'v')},
      {std::string("*DefaultPageSize\r\0x: A4\n", 24), "*PageSize", "A4"},  // a NUL ends the keyword
      {"DefaultPageSize: A4\n", std::nullopt, ""},
      {"*DefaultNoEnd\n", std::nullopt, ""},  // no star; no end to the keyword
      {"*DefaultColorSep: Black\n", std::nullopt, ""},
  };
  for (const auto& [line, keyword, value] : cases) {
    std::string parsed = "stale";
    EXPECT_EQ(parseDefaultLine(line, parsed), keyword) << line;
    EXPECT_EQ(parsed, value) << line;
  }
}

TEST(FindOption, KeywordAfterTheStarInAnyCase) {
  OptionList list{{{"PageSize", "Letter"}, {"Duplex", ""}, {"PageSize", "A4"}}};
  EXPECT_EQ(findOption(&list, "*PageSize"), &list.records[0]);
  EXPECT_EQ(findOption(&list, "*pageSIZE"), &list.records[0]);
  EXPECT_EQ(findOption(&list, "*Duplex"), &list.records[1]);
  for (const char* missing : {"*Page", "*", "", "PageSize", "*PageSizes"})
    EXPECT_EQ(findOption(&list, missing), nullptr);
  EXPECT_EQ(findOption(nullptr, "*PageSize"), nullptr);
}

const std::string kBlock =
    "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n";

TEST(ProcessNewPPD, RewritesDefaultsInsideOptionBlocksOnly) {
  const std::string filler(255, 'x');
  const struct {
    std::string input;
    OptionList options;
    std::string expected;
  } cases[] = {
      {kBlock,
       {{{"PageSize", "Letter"}}},
       "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n"},
      // Uncaptured defaults are normalised; the line keeps its own line end.
      {"*OpenUI *Duplex: PickOne\r\n*DefaultDuplex:None\r\n*CloseUI: *Duplex\r\n",
       {},
       "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex: None\r\n*CloseUI: *Duplex\r\n"},
      {"*OpenUI *D: PickOne\n*DefaultD: Tumble extra\n*CloseUI: *D\n",
       {{{"D", ""}}},
       "*OpenUI *D: PickOne\n*DefaultD: Tumble\n*CloseUI: *D\n"},  // empty captured value
      {"*DefaultFont: Courier\r\n" + kBlock + "*DefaultPageSize:A4\n",
       {{{"Font", "T"}, {"PageSize", "Legal"}}},
       "*DefaultFont: Courier\r\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Legal\n*PageSize A4: \"\"\n"
       "*CloseUI: *PageSize\n*DefaultPageSize:A4\n"},
      // JCL options are options like the others; keywords match in any case, spelt as the new PPD spells them.
      {"*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n*JCLCloseUI: *JCLDensity\n",
       {{{"JCLDensity", "Dark"}}},
       "*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity: Dark\n*JCLCloseUI: *JCLDensity\n"},
      {"*OpenUI *ColorModel: PickOne\n*DefaultColorMODEL: RGB\n*CloseUI: *ColorModel\n",
       {{{"ColorModel", "Gray"}}},
       "*OpenUI *ColorModel: PickOne\n*DefaultColorMODEL: Gray\n*CloseUI: *ColorModel\n"},
      {"*OpenUI *S: PickOne\n*DefaultColorSep:  Black\n*CloseUI: *S\n",
       {{{"ColorSep", "X"}}},
       "*OpenUI *S: PickOne\n*DefaultColorSep:  Black\n*CloseUI: *S\n"},
      // Commented-out lines neither open, close nor set anything.
      {"*% *OpenUI *InputSlot: PickOne\n*% *DefaultInputSlot: Manual\n*% *CloseUI: *InputSlot\n",
       {{{"InputSlot", "Tray2"}}},
       "*% *OpenUI *InputSlot: PickOne\n*% *DefaultInputSlot: Manual\n*% *CloseUI: *InputSlot\n"},
      {"*OpenUI *PageSize: PickOne\n*% *CloseUI: *PageSize\n*DefaultPageSize: A4\n*CloseUI: *PageSize\n",
       {{{"PageSize", "A5"}}},
       "*OpenUI *PageSize: PickOne\n*% *CloseUI: *PageSize\n*DefaultPageSize: A5\n*CloseUI: *PageSize\n"},
      // A block without its CloseUI runs to the end; a piece that does not begin a line is never a keyword line.
      {"*OpenUI *A: PickOne\n" + filler + "*DefaultA: 1\n*DefaultB:2",
       {{{"A", "3"}}},
       "*OpenUI *A: PickOne\n" + filler + "*DefaultA: 1\n*DefaultB: 2\n"},
      {"", {{{"PageSize", "Letter"}}}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(transplant(c.input, c.options), c.expected) << c.input;
}

TEST(ProcessNewPPD, TellsWhichCapturedDefaultsItWrote) {
  std::vector<std::string> written;
  transplant(kBlock + "*OpenUI *Duplex: PickOne\n*CloseUI: *Duplex\n", {{{"PageSize", "A5"}, {"Duplex", "None"}}},
             &written);
  EXPECT_EQ(written, std::vector<std::string>{"PageSize"});
}

TEST(ProcessNewPPD, HostileInputIsCopiedWithoutHarm) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) % 256));
  EXPECT_EQ(transplant(binary, {}), binary);
  const std::string huge(100 * 1024, 'y');
  for (const std::string& tail : {huge, "*Default" + huge, std::string(5000, ':') + "*Default\n"}) {
    std::string input = "*OpenUI *Z: PickOne\n" + tail;
    EXPECT_LE(transplant(input, {{{"Z", "v"}}}).size(), input.size() + 500);
  }
}

TEST(ProcessNewPPD, LogsTheCountAndEveryCarriedDefault) {
  QueueTestTree tree;
  transplant(kBlock, {{{"PageSize", "Letter"}, {"Duplex", "None"}}});
  EXPECT_EQ(tree.log(), "processNewPPD(nOptions=2)\nprocessNewPPD: Marco nueva opci\xF3n: *PageSize/Letter.\n");
}

}  // namespace
