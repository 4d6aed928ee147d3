// The whole life of the product on a print server with a real scheduler: a
// dry run, the installation, a re-run of the same release, two rollbacks and
// the removal, each checked on the host, in the log and in the report.
#include <map>

#include "e2e/e2e_support.h"

namespace {

using nlohmann::json;

std::string ppdOf(SandboxHost& host, const std::string& queue) { return host.read("/etc/cups/ppd/" + queue + ".ppd"); }

int count(const json& report, const std::string& outcome) { return report["counts"]["queues"][outcome]; }

class LifecycleE2E : public HostTest {};

TEST_F(LifecycleE2E, DryRunInstallRerunTwoRollbacksAndRemoval) {
  host->startCups();
  queue("Office", "tamra_cendra2100_ps.ppd", "-o PageSize=Legal -o MediaType=Thick");  // makes Office.ppd.O
  queue("Lab", "tamra_lumo4400_ps.ppd", "-o Duplex=DuplexTumble");
  queue("Hall", "tamra_cendra2100duo_pcl.ppd");
  const std::vector<std::string> queues = {"Office", "Lab", "Hall"};
  std::map<std::string, std::string> original;
  for (const std::string& q : queues) original[q] = ppdOf(*host, q);
  ASSERT_TRUE(host->exists("/etc/cups/ppd/Office.ppd.O"));

  // A dry run tells what the installation would do and changes nothing else.
  SandboxResult dry = setup({"-n"});
  EXPECT_EQ(changedBesidesTheRunsOwn(), std::vector<std::string>{}) << dry.err;
  EXPECT_FALSE(host->exists(kRecord));  // a plan owns nothing
  json r = report();
  EXPECT_EQ(r["kind"], "dry-run");
  EXPECT_TRUE(r["changed"]);
  EXPECT_EQ(count(r, "would-update"), 3);
  EXPECT_EQ(r["queues"][0]["newPpd"].get<std::string>().rfind("/usr/share/ppd/orv/", 0), 0u);  // as installed

  // The installation moves each product queue once (the scheduler's .O copies are no queues).
  SandboxResult install = setup({"-x", "1"});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  EXPECT_EQ(install.out.find("Restarting"), install.out.rfind("Restarting")) << install.out;  // once, after the last change
  EXPECT_NE(install.out.find("setup: instalaci\xF3n correcta (ok); colas: 3 actualizadas"), std::string::npos);
  r = report();
  EXPECT_EQ(r["queues"].size(), 3u);
  std::map<std::string, std::string> moved;
  for (const std::string& q : queues) {
    moved[q] = ppdOf(*host, q);
    EXPECT_NE(moved[q], original[q]) << q;
    EXPECT_EQ(host->read("/etc/cups/" + q + ".ppd.rpmsave"), original[q]) << q;
  }
  EXPECT_EQ(json::parse(host->read(kRecord))["queues"].size(), 3u);
  std::string script = host->read("/opt/orv/etc/UNINSTALLMIVO");
  script.replace(script.find("fecha: ") + 7, script.find('\n', script.find("fecha: ")) - script.find("fecha: ") - 7, "DATE");
  EXPECT_EQ(script, sourceText("tests/fixtures/UNINSTALLMIVO.expected"));
  // Each queue's block of the log in its order: its lines, its backup, its new PPD, the copy, its configuration.
  const std::string log = host->read(kLog);
  size_t at = 0;
  for (const char* line : {"\nImpresora = Lab con PPD=/etc/cups/ppd/Lab.ppd\n",
                           "\nguardar /etc/cups/ppd/Lab.ppd en /etc/cups/Lab.ppd.rpmsave: resultado:=0\n",
                           "\nProcesamiento de Tamra archivos PPD para la impresora: Lab.\n",
                           "\nImpresora = Hall con PPD=/etc/cups/ppd/Hall.ppd\n"})
    EXPECT_NE(at = log.find(line, at), std::string::npos) << line << log;

  // The same release again: everything is right already, so nothing changes and the scheduler keeps running.
  // (The scheduler saves printers.conf some time after it re-read the moved PPDs; restarted here, it saves it now.)
  ASSERT_EQ(host->sh("/etc/init.d/cups restart").status, 0);
  const std::string pid = host->sh("pgrep -x cupsd").out;
  SandboxResult again = setup({"/opt/orv/bin/setup", "-x", "1"}, {.cwd = "/root"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(changedBesidesTheRunsOwn(), std::vector<std::string>{});
  r = report();
  EXPECT_EQ(count(r, "unchanged"), 3);
  EXPECT_FALSE(r["changed"]);
  EXPECT_EQ(host->sh("pgrep -x cupsd").out, pid);
  EXPECT_NE(host->read(kLog).find("Nada cambi\xF3 en el sistema: CUPS no se reinicia."), std::string::npos);

  // A rollback puts back what the installation saved and keeps what it replaces: a second one undoes it.
  for (const auto* expected : {&original, &moved}) {
    SandboxResult back = setup({"/opt/orv/bin/setup", "-r", "-x", "1"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(count(report(), "rolled-back"), 3);
    for (const std::string& q : queues) EXPECT_EQ(ppdOf(*host, q), expected->at(q)) << q;
  }

  // A removal cannot be a dry run or a rollback: refused, and nothing goes.
  for (const char* other : {"-n", "-r"})
    EXPECT_EQ(setup({"/opt/orv/bin/setup", "-d", other, "-x", "1"}, {.input = "s\n"}).status, 2) << other;
  EXPECT_TRUE(host->exists("/opt/orv/bin/setup"));
  // The removal takes the queues the information file lists and tells of the one it leaves.
  ASSERT_EQ(host->sh("sed -i 's/^Default$/Default\\nOffice\\nLab/' /opt/orv/mivoInfo4.0").status, 0);
  SandboxResult removal = setup({"/opt/orv/bin/setup", "-d", "-x", "1"}, {.input = "s\n"});
  EXPECT_EQ(removal.status, 0) << removal.err;
  r = report();
  EXPECT_EQ(count(r, "removed"), 2);
  EXPECT_EQ(r["queues"][2]["name"], "Hall");
  EXPECT_EQ(r["queues"][2]["outcome"], "kept");
  EXPECT_EQ(host->sh("lpstat -p").out.find("Office"), std::string::npos);
  EXPECT_FALSE(host->exists("/opt/orv/bin"));
  EXPECT_FALSE(host->exists("/opt/orv/man/setup.8"));
}

}  // namespace
