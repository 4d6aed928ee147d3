#include "queues/ppd_transplant.h"

#include <gtest/gtest.h>

#include <sstream>

#include "queue_test_support.h"
#include "queues/queue_update.h"

namespace {

std::string transplant(const std::string& input, const OptionList& options) {
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(processNewPPD(in, out, options, static_cast<int>(options.records.size())), 0);
  return out.str();
}

TEST(ParseDefaultLine, KeywordAndFirstTokenOfTheValue) {
  const std::string k100(100, 'K'), v100(100, 'v');
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {"*DefaultLabel: \"two words\"\n", "*Label", "\"two"}, {"*DefaultTray:   \n", "*Tray", ""},
      {"*DefaultTab: a\tb c", "*Tab", "a\tb"}, {"*DefaultSpace :x\n", "*Space", ":x"},
      {"*Default" + k100 + ": X\n", "*" + k100.substr(0, 78), "X"},  // cut at the limits
      {"*DefaultLong: " + v100 + "\n", "*Long", v100.substr(0, 79)},
      {"DefaultPageSize: A4\n", std::nullopt, ""}, {"*DefaultNoEnd\n", std::nullopt, ""},  // no star; no end to the keyword
  };
  for (const auto& [line, keyword, value] : cases) {
    std::string parsed = "stale";
    EXPECT_EQ(parseDefaultLine(line, parsed), keyword) << line;
    EXPECT_EQ(parsed, value) << line;
  }
}

TEST(FindOption, ExactKeywordAfterTheStar) {
  OptionList list{{{"PageSize", "Letter"}, {"Duplex", ""}, {"PageSize", "A4"}}};
  EXPECT_EQ(findOption(&list, "*PageSize"), &list.records[0]);
  EXPECT_EQ(findOption(&list, "*Duplex"), &list.records[1]);
  for (const char* missing : {"*pagesize", "*Page", "*", "", "PageSize"}) EXPECT_EQ(findOption(&list, missing), nullptr);
  EXPECT_EQ(findOption(nullptr, "*PageSize"), nullptr);
}

const std::string kBlock = "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n";

TEST(ProcessNewPPD, RewritesDefaultsInsideOptionBlocksOnly) {
  const std::string filler(255, 'x');
  const struct {
    std::string input;
    OptionList options;
    std::string expected;
  } cases[] = {
      {kBlock, {{{"PageSize", "Letter"}}},
       "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n"},
      // Uncaptured defaults are normalised, CR LF becomes LF; other lines pass byte for byte.
      {"*OpenUI *Duplex: PickOne\r\n*DefaultDuplex:None\r\n*CloseUI: *Duplex\r\n", {},
       "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex: None\n*CloseUI: *Duplex\r\n"},
      {"*OpenUI *D: PickOne\n*DefaultD: Tumble extra\n*CloseUI: *D\n", {{{"D", ""}}},
       "*OpenUI *D: PickOne\n*DefaultD: Tumble\n*CloseUI: *D\n"},  // empty captured value
      {"*DefaultFont: Courier\r\n" + kBlock + "*DefaultPageSize:A4\n", {{{"Font", "T"}, {"PageSize", "Legal"}}},
       "*DefaultFont: Courier\r\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Legal\n*PageSize A4: \"\"\n"
       "*CloseUI: *PageSize\n*DefaultPageSize:A4\n"},
      {"*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n*JCLCloseUI: *JCLDensity\n",
       {{{"JCLDensity", "Dark"}}}, "*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n*JCLCloseUI: *JCLDensity\n"},
      {"*OpenUI *S: PickOne\n*DefaultColorSep:  Black\n*CloseUI: *S\n", {{{"ColorSep", "X"}}},
       "*OpenUI *S: PickOne\n*DefaultColorSep:  Black\n*CloseUI: *S\n"},
      // A block without its CloseUI runs to the end; a long line is classified piece by piece.
      {"*OpenUI *A: PickOne\n" + filler + "*DefaultA: 1\n*DefaultB:2", {{{"A", "3"}}},
       "*OpenUI *A: PickOne\n" + filler + "*DefaultA: 3\n*DefaultB: 2\n"},
      {"", {{{"PageSize", "Letter"}}}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(transplant(c.input, c.options), c.expected) << c.input;
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

TEST(RaiseConfigVersion, MarkerPiecesAreReplacedOthersCopied) {
  const std::string p255(255, 'p');
  const std::pair<std::string, std::string> cases[] = {
      {"x %%MIVO_VERSION_1.0 y\r\n%%MIVO_VERSION_2.0\n", "%%MIVO_VERSION_3.0\n%%MIVO_VERSION_2.0\n"},
      {p255 + "%%MIVO_VERSION_1.0", p255 + "%%MIVO_VERSION_3.0\n"},
  };
  for (const auto& [input, expected] : cases) {
    std::istringstream in(input);
    std::ostringstream out;
    raiseConfigVersion(in, out);
    EXPECT_EQ(out.str(), expected);
  }
}

}  // namespace
