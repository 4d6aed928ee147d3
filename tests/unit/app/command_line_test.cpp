#include "app/command_line.h"

#include <gtest/gtest.h>

#include "../test_support.h"
#include "app/run_end.h"

namespace {

std::vector<std::string> argv(std::vector<std::string> words) {
  words.insert(words.begin(), "setup");
  return words;
}

// A wrong command line runs nothing: each letter of a mistyped long option
// would otherwise be an option of its own (--version holds -r, --uninstall -u).
TEST(CommandLine, WhatTheProgramDoesNotKnowIsAnError) {
  const std::tuple<std::vector<std::string>, CommandLineAsk, std::string> cases[] = {
      {{}, CommandLineAsk::Run, ""},
      {{"-q1", "-u", "/srv/x", "-x", "1", "-n"}, CommandLineAsk::Run, ""},
      {{"--help"}, CommandLineAsk::Help, ""},
      {{"--version", "-d"}, CommandLineAsk::Version, ""},
      {{"--uninstall"}, CommandLineAsk::Error, "setup: opci\xF3n desconocida: '--uninstall'.\n"},
      {{"-R"}, CommandLineAsk::Error, "setup: opci\xF3n desconocida: '-R'.\n"},
      {{"-dR"}, CommandLineAsk::Error, "setup: opci\xF3n desconocida: '-R'.\n"},
      {{"-u"}, CommandLineAsk::Error, "setup: a la opci\xF3n '-u' le falta su argumento.\n"},
      {{"-d", "now"}, CommandLineAsk::Error, "setup: argumento de m\xE1s: 'now'.\n"},
  };
  for (const auto& [words, ask, error] : cases) {
    CommandLineCheck check = checkCommandLine(argv(words));
    EXPECT_EQ(check.ask, ask) << (words.empty() ? "" : words[0]);
    EXPECT_EQ(check.error, error);
  }
}

TEST(CommandLine, TwoPassesSetTheirOptionsAndTheUsageKeepsItsLines) {
  ScratchHost host;
  std::vector<std::string> args = argv({"-d", "-f", "0", "-S", "abc", "-n", "-x1", "-q", "-5", "-u", "/srv/x/", "-D3"});
  firstOptionPass(args);
  RunSettings& s = runSettings();
  EXPECT_EQ(std::tie(s.uninstallRequested, s.allowAnyDir, s.seLinuxMode, s.dryRun, s.strictStatus),
            std::make_tuple(1, 0, 0, true, true));
  EXPECT_EQ(s.installDir, host / "opt/orv");  // the second pass's options wait
  EXPECT_EQ(secondOptionPass(args), "");
  EXPECT_EQ(std::tie(s.queryMode, s.installDir, s.debugLevel), std::make_tuple(0, std::string("/srv/x/"), 3));
  EXPECT_NE(secondOptionPass(argv({"-u", std::string(256, 'x')})), "");
  std::string usage = usageText();
  EXPECT_TRUE(usage.starts_with("Mivo setup versi\xF3n: 4.0-11.\n"));
  EXPECT_NE(usage.find("-Dx\t: establecer el modo de depuraci\xF3n. [0].\n-Zx"), std::string::npos);
  for (const char* option : {"\n-n\t", "\n-r\t", "\n-xx\t", "\n-i nombre", "\n-u dir", "\n--help", "\n--version"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(RunEnd, TheClosingLineTellsWhatRanAndWhereToLook) {
  RunReport report;
  report.start(RunKind::Update);
  report.addQueue("Office").outcome = QueueOutcome::Updated;
  report.addQueue("Lab").outcome = QueueOutcome::Failed;
  report.addFile("/opt/orv/bin/setup", FileAction::Install).outcome = FileOutcome::Unchanged;
  EXPECT_EQ(closingLine(report, "/var/log/Mivo4.0_UpdateLog", ""),
            "setup: actualizaci\xF3n parcial (partial); colas: 1 actualizadas, 0 devueltas, 0 eliminadas, 0 sin "
            "cambios, 1 fallidas, 0 conservadas; ficheros: 0 instalados, 1 sin cambios, 0 eliminados, 0 fallidos; "
            "registro: /var/log/Mivo4.0_UpdateLog; informe: ninguno.\n");
}

}  // namespace
