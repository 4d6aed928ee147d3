#include "queues/ppd_transplant.h"

#include <gtest/gtest.h>

#include "../test_support.h"

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
      {"*DefaultTab: a\tb c", "*Tab", "a\tb"},
      {"*DefaultSpace :x\n", "*Space", ":x"},
      {"*Default" + k100 + ": X\n", "*" + k100.substr(0, 78), "X"},  // cut at the limits
      {"*DefaultLong: " + v100 + "\n", "*Long", v100.substr(0, 79)},
      {std::string("*DefaultPageSize\r\0x: A4\n", 24), "*PageSize", "A4"},  // a NUL ends the keyword
      {"DefaultPageSize: A4\n", std::nullopt, ""},
      {"*DefaultNoEnd\n", std::nullopt, ""},
      {"*DefaultColorSep: Black\n", std::nullopt, ""},
  };
  for (const auto& [line, keyword, value] : cases) {
    std::string parsed = "stale";
    EXPECT_EQ(parseDefaultLine(line, parsed), keyword) << line;
    EXPECT_EQ(parsed, value) << line;
  }
  OptionList list{{{"PageSize", "Letter"}, {"PageSize", "A4"}}};
  EXPECT_EQ(findOption(&list, "*pageSIZE"), &list.records[0]);
  for (const char* missing : {"*Page", "*", "", "PageSize"}) EXPECT_EQ(findOption(&list, missing), nullptr);
}

const std::string kBlock = "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n";

TEST(ProcessNewPPD, RewritesTheDefaultsLibcupsWillRead) {
  const std::string filler(255, 'x');
  const std::tuple<std::string, OptionList, std::string> cases[] = {
      {kBlock, {{{"PageSize", "Letter"}}},
       "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n"},
      // Uncaptured one-word defaults are normalised, keeping the line's own end.
      {"*OpenUI *Duplex: PickOne\r\n*DefaultDuplex:None\r\n*CloseUI: *Duplex\r\n", {},
       "*OpenUI *Duplex: PickOne\r\n*DefaultDuplex: None\r\n*CloseUI: *Duplex\r\n"},
      // A value of several words would be cut: it stays as it is.
      {"*OpenUI *L: PickOne\n*DefaultL: \"two words\"\n*CloseUI: *L\n", {},
       "*OpenUI *L: PickOne\n*DefaultL: \"two words\"\n*CloseUI: *L\n"},
      // Stated again after its block, a default is the one libcups keeps: it is carried there too;
      // before its block, or outside any block uncaptured, it stays.
      {"*DefaultPageSize: A4\r\n" + kBlock + "*DefaultPageSize:A4\n*DefaultFont: Courier\n",
       {{{"PageSize", "Legal"}, {"Font", "Times"}}},
       "*DefaultPageSize: A4\r\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Legal\n*PageSize A4: \"\"\n"
       "*CloseUI: *PageSize\n*DefaultPageSize: Legal\n*DefaultFont: Courier\n"},
      // JCL options are options like the others, also right after another JCL block.
      {"*JCLOpenUI *JCLA: PickOne\n*JCLCloseUI: *JCLA\n*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity:  Light\n"
       "*JCLCloseUI: *JCLDensity\n",
       {{{"JCLDensity", "Dark"}}},
       "*JCLOpenUI *JCLA: PickOne\n*JCLCloseUI: *JCLA\n*JCLOpenUI *JCLDensity: PickOne\n*DefaultJCLDensity: Dark\n"
       "*JCLCloseUI: *JCLDensity\n"},
      {"*OpenUI *ColorModel: PickOne\n*DefaultColorMODEL: RGB\n*CloseUI: *ColorModel\n", {{{"ColorModel", "Gray"}}},
       "*OpenUI *ColorModel: PickOne\n*DefaultColorMODEL: Gray\n*CloseUI: *ColorModel\n"},
      // Commented-out lines neither open, close nor set anything, inside a block or not.
      {"*% *OpenUI *In: PickOne\n*% *DefaultIn: Manual\n*% *CloseUI: *In\n", {{{"In", "Tray2"}}},
       "*% *OpenUI *In: PickOne\n*% *DefaultIn: Manual\n*% *CloseUI: *In\n"},
      {"*OpenUI *P: PickOne\n*% *DefaultP: A3\n*% *CloseUI: *P\n*DefaultP: A4\n*CloseUI: *P\n", {{{"P", "A5"}}},
       "*OpenUI *P: PickOne\n*% *DefaultP: A3\n*% *CloseUI: *P\n*DefaultP: A5\n*CloseUI: *P\n"},
      // A piece that does not begin a line is never a keyword line; the last line may have no line feed.
      {"*OpenUI *A: PickOne\n" + filler + "*DefaultA: 1\n*DefaultB:2", {{{"A", "3"}}},
       "*OpenUI *A: PickOne\n" + filler + "*DefaultA: 1\n*DefaultB: 2\n"},
      {"", {{{"PageSize", "Letter"}}}, ""},
  };
  for (const auto& [input, options, expected] : cases) EXPECT_EQ(transplant(input, options), expected) << input;
  std::vector<std::string> written;
  transplant(kBlock + "*OpenUI *Duplex: PickOne\n*CloseUI: *Duplex\n", {{{"PageSize", "A5"}, {"Duplex", "None"}}},
             &written);
  EXPECT_EQ(written, std::vector<std::string>{"PageSize"});
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37) % 256));
  EXPECT_EQ(transplant(binary, {}), binary);
}

}  // namespace
