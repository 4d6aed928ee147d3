// Print-system detection seen from outside: the environment overrides, the
// process listing and its temporary files.
#include <string>

#include "e2e/e2e_support.h"

namespace {

std::string managerLine(const std::string& name) { return latin1("System gerente de impresoras = ") + name; }

class PrintSystemE2E : public ProgramTest {};

TEST_F(PrintSystemE2E, EnvironmentOverridesTheListingsTemporaryFilesAndARunningLpd) {
  host->write("/etc/victim", "precious\n");
  // exec keeps the shell's pid, so the links stand at the program's own temporary names.
  auto listed =
      host->sh("echo $$; ln -s /etc/victim /tmp/ZEBLPD$$; ln -s /etc/victim /tmp/ZEBLPRNG$$; exec " + kProgram + " -D1",
               {.env = {{"ZEBLPMODE", "cups"}, {"MIVOLPMODE", "CUPS"}}});
  ASSERT_EQ(listed.status, 0) << listed.err;
  std::string pid = linesOf(listed.out).at(0);
  EXPECT_NE(listed.err.find("STRING=("), std::string::npos);  // a lower-case name is no override
  EXPECT_TRUE(linesInOrder(host->read(kLog), {managerLine(latin1("Incógnita"))}));
  EXPECT_EQ(host->read("/etc/victim"), "precious\n");
  EXPECT_FALSE(host->exists("/tmp/ZEBLPD" + pid));
  EXPECT_FALSE(host->exists("/tmp/ZEBLPRNG" + pid));

  const std::pair<std::map<std::string, std::string>, std::string> overrides[] = {
      {{{"ZEBLPMODE", "LPR"}, {"MIVOLPMODE", "CUPS"}}, "LPR"},
      {{{"MIVOLPMODE", "LPRNG"}}, "LPRNG"},
  };
  for (const auto& [env, name] : overrides) {
    auto r = host->run({kProgram, "-D1"}, {.env = env});
    EXPECT_EQ(r.err.find("STRING=("), std::string::npos) << name;  // no process listing at all
    EXPECT_TRUE(linesInOrder(host->read(kLog), {managerLine(name)})) << name;
  }

  // Without an override, a running lpd is LPRng only when it says so.
  host->write("/usr/sbin/lpd",
              "#!/bin/sh\n[ \"$1\" = -V ] || { sleep 300; exit 0; }\n[ -e /etc/lprng ] && echo 'lpd (LPRng) 3.8.C' "
              ">&2\nexit 0\n",
              0755);
  host->sh("setsid /usr/sbin/lpd </dev/null >/dev/null 2>&1 &");
  auto bsd = host->run({kProgram});
  EXPECT_TRUE(linesInOrder(host->read(kLog), {managerLine("LPR")})) << bsd.err;
  host->write("/etc/lprng", "");
  host->run({kProgram});
  EXPECT_TRUE(linesInOrder(host->read(kLog), {managerLine("LPRNG")}));
}

TEST_F(PrintSystemE2E, RunningSchedulerGivesCupsPrefixesAndItsHttpVersion) {
  host->mkdir("/usr/share/ppd/openprinting");
  host->startCups();
  auto r = host->run({kProgram});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = host->read(kLog);
  EXPECT_TRUE(linesInOrder(log, {
                                    managerLine("CUPS"),
                                    "CUPS directorio base: /",
                                    "CUPS directorio binaria: /usr",
                                    "CUPS Header Version : 2400//HTTP",
                                    latin1("Dir de instalación PPD: /usr/share/ppd/openprinting/orv"),
                                    "Directorio creado: '/usr/share/ppd/openprinting/orv'.",
                                }));
  EXPECT_EQ(log.find("CUPS Version :"), std::string::npos);  // no local probe was needed
}

}  // namespace
