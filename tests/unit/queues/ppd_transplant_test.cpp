#include "queues/ppd_transplant.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "queue_test_support.h"
#include "queues/queue_update.h"

namespace {

OptionList optionsOf(std::vector<std::pair<std::string, std::string>> pairs) {
  OptionList list;
  for (auto& [keyword, value] : pairs) list.records.push_back({keyword, value});
  return list;
}

std::string transplant(const std::string& input, const OptionList& options) {
  std::istringstream in(input);
  std::ostringstream out;
  EXPECT_EQ(processNewPPD(in, out, options, static_cast<int>(options.records.size())), 0);
  return out.str();
}

struct ParseCase {
  std::string line;
  std::optional<std::string> keyword;
  std::string value;
};

TEST(ParseDefaultLine, KeywordAndFirstTokenOfTheValue) {
  const std::string longKeyword(100, 'K');
  const std::string longValue(100, 'v');
  const ParseCase cases[] = {
      {"*DefaultPageSize: A4\n", "*PageSize", "A4"},
      {"*DefaultResolution: 600dpi", "*Resolution", "600dpi"},
      {"*DefaultDuplex:None\r\n", "*Duplex", "None"},
      {"*DefaultLabel: \"two words\"\n", "*Label", "\"two"},
      {"*DefaultTray:   \n", "*Tray", ""},
      {"*DefaultTray:", "*Tray", ""},
      {"*DefaultTab: a\tb c\n", "*Tab", "a\tb"},
      {"*DefaultSpace :x\n", "*Space", ":x"},
      {"  text *DefaultInner: B\n", "*Inner", "B"},
      {"*Default" + longKeyword + ": X\n", "*" + longKeyword.substr(0, 78), "X"},
      {"*DefaultLong: " + longValue + "\n", "*Long", longValue.substr(0, 79)},
      {"*DefaultColorSep: ProcessBlack.106lpi.600dpi/106 lpi / 600 dpi\n", std::nullopt, ""},
      {"DefaultPageSize: A4\n", std::nullopt, ""},
      {"*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n", std::nullopt, ""},
      {"*DefaultNoEnd\n", std::nullopt, ""},
      {"*DefaultNoEndAtAll", std::nullopt, ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.line);
    std::string value = "stale";
    EXPECT_EQ(parseDefaultLine(c.line, value), c.keyword);
    EXPECT_EQ(value, c.value);
  }
}

TEST(FindOption, ExactKeywordAfterTheStar) {
  OptionList list = optionsOf({{"PageSize", "Letter"}, {"Duplex", ""}, {"PageSize", "A4"}});
  ASSERT_NE(findOption(&list, "*PageSize"), nullptr);
  EXPECT_EQ(findOption(&list, "*PageSize")->value, "Letter");
  EXPECT_EQ(findOption(&list, "*Duplex"), &list.records[1]);
  EXPECT_EQ(findOption(&list, "*pagesize"), nullptr);
  EXPECT_EQ(findOption(&list, "*Page"), nullptr);
  EXPECT_EQ(findOption(&list, "*"), nullptr);
  EXPECT_EQ(findOption(&list, ""), nullptr);
  EXPECT_EQ(findOption(nullptr, "*PageSize"), nullptr);
}

struct TransplantCase {
  const char* what;
  std::string input;
  std::vector<std::pair<std::string, std::string>> options;
  std::string expected;
};

const std::string kPageSizeBlock =
    "*OpenUI *PageSize/Page Size: PickOne\n"
    "*OrderDependency: 10 AnySetup *PageSize\n"
    "*DefaultPageSize: A4\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
    "*CloseUI: *PageSize\n";

TEST(ProcessNewPPD, RewritesDefaultsInsideOptionBlocksOnly) {
  const TransplantCase cases[] = {
      {"captured default replaces the new one", kPageSizeBlock, {{"PageSize", "Letter"}},
       "*OpenUI *PageSize/Page Size: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
       "*DefaultPageSize: Letter\n*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
       "*CloseUI: *PageSize\n"},
      {"uncaptured default is normalised, CR LF becomes LF",
       "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex:None\r\n*CloseUI: *Duplex\r\n", {},
       "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex: None\n*CloseUI: *Duplex\r\n"},
      {"empty captured value keeps the line's own",
       "*OpenUI *Duplex: PickOne\n*DefaultDuplex: DuplexTumble extra\n*CloseUI: *Duplex\n",
       {{"Duplex", ""}}, "*OpenUI *Duplex: PickOne\n*DefaultDuplex: DuplexTumble\n*CloseUI: *Duplex\n"},
      {"defaults outside blocks pass unchanged",
       "*DefaultResolution:  600dpi\n*DefaultFont: Courier\r\n" + kPageSizeBlock + "*DefaultPageSize:A4\n",
       {{"Resolution", "1200dpi"}, {"Font", "Times"}, {"PageSize", "Legal"}},
       "*DefaultResolution:  600dpi\n*DefaultFont: Courier\r\n*OpenUI *PageSize/Page Size: PickOne\n"
       "*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: Legal\n"
       "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n*DefaultPageSize:A4\n"},
      {"JCL blocks are not option blocks",
       "*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n*JCLCloseUI: *JCLDensity\n",
       {{"JCLDensity", "Dark"}},
       "*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n*JCLCloseUI: *JCLDensity\n"},
      {"DefaultColorSep inside a block passes unchanged",
       "*OpenUI *Sep: PickOne\n*DefaultColorSep:  ProcessBlack\n*CloseUI: *Sep\n", {{"ColorSep", "X"}},
       "*OpenUI *Sep: PickOne\n*DefaultColorSep:  ProcessBlack\n*CloseUI: *Sep\n"},
      {"the OpenUI line is a block line and a default on it is rewritten",
       "*OpenUI *Odd: PickOne *DefaultOdd: A\n*CloseUI: *Odd\n", {{"Odd", "B"}},
       "*DefaultOdd: B\n*CloseUI: *Odd\n"},
      {"a block without CloseUI runs to the end of the file",
       "*OpenUI *A: PickOne\n*DefaultA: 1\n*CloseUI *B\n*DefaultB: 2", {{"B", "3"}},
       "*OpenUI *A: PickOne\n*DefaultA: 1\n*CloseUI *B\n*DefaultB: 2"},
      {"quoted value keeps its first token", "*OpenUI *Q: PickOne\n*DefaultQ: \"a b\"\n*CloseUI: *Q\n", {},
       "*OpenUI *Q: PickOne\n*DefaultQ: \"a\n*CloseUI: *Q\n"},
      {"a default keyword without end is copied unchanged",
       "*OpenUI *N: PickOne\n*DefaultN\n*CloseUI: *N\n", {{"N", "x"}},
       "*OpenUI *N: PickOne\n*DefaultN\n*CloseUI: *N\n"},
      {"empty input", "", {{"PageSize", "Letter"}}, ""},
  };
  for (const TransplantCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(transplant(c.input, optionsOf(c.options)), c.expected);
  }
}

TEST(ProcessNewPPD, LongLinesAreClassifiedPieceByPiece) {
  // The second 255-byte piece of a long line starts with a default line.
  std::string filler(255, 'x');
  std::string input = "*OpenUI *P: PickOne\n" + filler + "*DefaultP: A4\n*CloseUI: *P\n";
  EXPECT_EQ(transplant(input, optionsOf({{"P", "Letter"}})),
            "*OpenUI *P: PickOne\n" + filler + "*DefaultP: Letter\n*CloseUI: *P\n");
}

TEST(ProcessNewPPD, HostileInputIsCopiedWithoutHarm) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) % 256));
  std::string hugeLine(100 * 1024, 'y');
  const std::string inputs[] = {
      binary,
      "*OpenUI *Z: PickOne\n" + hugeLine,
      "*OpenUI *Z: PickOne\n*Default" + hugeLine,
      "*OpenUI *Z: PickOne\n" + std::string(5000, ':') + "*Default\n",
      std::string("*OpenUI *Z: PickOne\n*DefaultZ: \0x\n", 33),
  };
  for (const std::string& input : inputs) {
    std::string output = transplant(input, optionsOf({{"Z", "v"}}));
    EXPECT_LE(output.size(), input.size() + 300);
  }
  EXPECT_EQ(transplant(binary, {}), binary);
}

TEST(ProcessNewPPD, LogsTheCountAndEveryCarriedDefault) {
  QueueTestTree tree;
  transplant(kPageSizeBlock, optionsOf({{"PageSize", "Letter"}, {"Duplex", "None"}}));
  EXPECT_EQ(tree.log(),
            "processNewPPD(nOptions=2)\n"
            "processNewPPD: Marco nueva opci\xF3n: *PageSize/Letter.\n");
}

TEST(RaiseConfigVersion, MarkerPiecesAreReplacedOthersCopied) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\n%%MIVO_VERSION_1.0\nb", "a\n%%MIVO_VERSION_3.0\nb"},
      {"x %%MIVO_VERSION_1.0 y\r\n", "%%MIVO_VERSION_3.0\n"},
      {"%%MIVO_VERSION_1.0", "%%MIVO_VERSION_3.0\n"},
      {"%%MIVO_VERSION_2.0\nplain\n", "%%MIVO_VERSION_2.0\nplain\n"},
      {"", ""},
      {std::string(255, 'p') + "%%MIVO_VERSION_1.0\n", std::string(255, 'p') + "%%MIVO_VERSION_3.0\n"},
  };
  for (const auto& [input, expected] : cases) {
    std::istringstream in(input);
    std::ostringstream out;
    raiseConfigVersion(in, out);
    EXPECT_EQ(out.str(), expected) << input;
  }
}

TEST(BackupPath, BesideTheCupsPpdDirectory) {
  EXPECT_EQ(backupPathFor("/etc/cups/ppd/Office.ppd", "Office"), "/etc/cups/Office.ppd.rpmsave");
  EXPECT_EQ(backupPathFor("/srv/ppdhost/etc/cups/ppd/Lab.ppd", "Lab"), "/srv/Lab.ppd.rpmsave");
  EXPECT_EQ(backupPathFor("/var/queues/Q.ppd", "Q"), "/var/queues/Q.ppdQ.ppd.rpmsave");
  // Other files that carry the same queue name keep their own backups.
  EXPECT_EQ(backupPathFor("/etc/cups/ppd/X.ppd.O", "X"), "/etc/cups/X.ppd.O.rpmsave");
  EXPECT_EQ(backupPathFor("/etc/cups/ppd/" + std::string(90, 'L') + ".ppd", std::string(79, 'L')),
            "/etc/cups/" + std::string(90, 'L') + ".ppd.rpmsave");
}

}  // namespace
