// The command line and the terminal as administrators use them.
#include "e2e/e2e_support.h"

class CommandLineE2E : public HostTest {};

// A wrong option runs nothing at all, not even a new log.
TEST_F(CommandLineE2E, WhatTheProgramDoesNotKnowChangesNothing) {
  host->startCups();
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--version"}, 0, "setup (Mivo 4.0) 4.0-11\n"},
      {{"--uninstall"}, 2, ""},
      {{"-R"}, 2, ""},
      {{"-d", "now"}, 2, ""},
  };
  for (const auto& [args, status, out] : cases) {
    SandboxResult r = setup(args);
    EXPECT_EQ(r.status, status) << args[0];
    EXPECT_EQ(r.out, out) << args[0];
    EXPECT_EQ(host->changed(), std::vector<SandboxChange>{}) << args[0];
    if (status == 2) {
      EXPECT_NE(r.err.find("Uso:"), std::string::npos) << args[0];
    }
  }
}

// An abort says why on the terminal and leaves the host as it was.
TEST_F(CommandLineE2E, AnAbortSaysWhyAndChangesNothing) {
  SandboxResult noScheduler = host->run({"./bin/setup", "-x", "1"}, {.cwd = kTree});  // the process list decides
  EXPECT_EQ(noScheduler.status, 2);
  EXPECT_NE(noScheduler.err.find("no hay ning\xFAn planificador CUPS en marcha"), std::string::npos);
  EXPECT_EQ(changedBesidesTheRunsOwn(), std::vector<std::string>{});  // no PPD directory, no link
  EXPECT_NE(host->read(kReport).find("planificador"), std::string::npos);
  host->startCups();
  SandboxResult elsewhere = setup({"./mivo/bin/setup", "-x", "1"}, {.cwd = "/srv"});
  EXPECT_EQ(elsewhere.status, 2);
  EXPECT_NE(elsewhere.err.find("no se encontr\xF3 el \xE1rbol de distribuci\xF3n"), std::string::npos);
  EXPECT_NE(elsewhere.out.find("(aborted)"), std::string::npos);
}

// On a terminal the update shows its progress in the terminal's characters; off one, nothing extra.
TEST_F(CommandLineE2E, TheTerminalSeesProgressInItsOwnCharacters) {
  host->startCups();
  queue("Office", "tamra_cendra2100_ps.ppd");
  SandboxResult onTerminal = host->sh("cd /srv/mivo && script -qec './bin/setup' /dev/null",
                                      {.env = {{"LANG", "C.UTF-8"}, {"ZEBLPMODE", "CUPS"}}});
  EXPECT_NE(onTerminal.out.find("Cola 1 de 1: Office"), std::string::npos) << onTerminal.out;
  EXPECT_NE(onTerminal.out.find("setup: instalaci\xC3\xB3n correcta"), std::string::npos) << onTerminal.out;
  SandboxResult offTerminal = setup({"/opt/orv/bin/setup"});
  EXPECT_EQ(offTerminal.out.find("Cola 1"), std::string::npos);
  EXPECT_NE(offTerminal.out.find("setup: actualizaci\xF3n correcta"), std::string::npos);
}
