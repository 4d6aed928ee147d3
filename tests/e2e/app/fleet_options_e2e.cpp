// What fleets drive setup with: the run report, the strict exit status, the
// dry run and the rollback, on a sandboxed print server with a real cupsd.
#include <filesystem>

#include "e2e/e2e_support.h"

namespace {

const std::string kOld = "/srv/old";
const SandboxRunOptions kFromDist = {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo"};

std::string sourceText(const std::string& relative) {
  return machineText(std::filesystem::path(__FILE__).parent_path() / "../../.." / relative);
}

class FleetOptionsE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(DIST_DIR, "/srv/mivo");
    host->write("/srv/report-schema.json", sourceText("contrib/report-schema.json"));
    for (const char* ppd : {"tamra_cendra2100_ps.ppd", "tamra_lumo4400_ps.ppd"})
      host->write(kOld + "/" + ppd, sourceText(std::string("tests/fixtures/ppd-old/") + ppd));
    host->startCups();
  }
  void createQueues() {
    ASSERT_EQ(host->sh("lpadmin -p Office -E -v socket://127.0.0.1:9100 -P " + kOld +
                       "/tamra_cendra2100_ps.ppd "
                       "-o PageSize=Legal -o InputSlot=Tray2 && "
                       "lpadmin -p Lab -E -v socket://127.0.0.1:9100 -P " +
                       kOld + "/tamra_lumo4400_ps.ppd -o Duplex=DuplexTumble")
                  .status,
              0);
  }
  SandboxResult setup(std::vector<std::string> args = {}, SandboxRunOptions options = kFromDist) {
    args.insert(args.begin(), "./bin/setup");
    return host->run(args, options);
  }
  // The report's field as python reads it ("" when missing), after validating the report against the schema.
  std::string reportField(const std::string& expression) {
    SandboxResult r = host->sh("python3 -c 'import json,sys,jsonschema; r=json.load(open(\"" + kReport +
                               "\")); "
                               "jsonschema.validate(r, json.load(open(\"/srv/report-schema.json\"))); print(" +
                               expression + ")'");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.empty() ? "" : r.out.substr(0, r.out.size() - 1);
  }
  std::string queueState() {
    return host->sh("cat /etc/cups/ppd/*.ppd; lpoptions -p Office -l; lpoptions -p Lab -l").out;
  }
};

TEST_F(FleetOptionsE2E, EveryKindOfRunReportsItsOutcomeAndTheStrictStatusTellsIt) {
  const std::string kindAndOutcome = "r[\"kind\"], r[\"outcome\"]";
  struct Run {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string report;
    int status;
  };
  const Run runs[] = {
      {{"-x", "1", "-u", "/"}, kFromDist.env, "install refused", 2},
      {{"-x", "1"}, {{"ZEBLPMODE", "LPR"}}, "install aborted", 2},
      {{"-x", "1", "-n"}, kFromDist.env, "dry-run ok", 0},
      {{"-x", "1"}, kFromDist.env, "install ok", 0},
      {{"-x", "1"}, kFromDist.env, "update ok", 0},
      {{}, {{"ZEBLPMODE", "LPR"}}, "update aborted", 0},  // without -x the status stays 0
      {{"-x", "1", "-r"}, kFromDist.env, "rollback ok", 0},
  };
  for (const Run& run : runs) {
    SandboxResult r = setup(run.args, {.env = run.env, .cwd = "/srv/mivo"});
    EXPECT_EQ(r.status, run.status) << run.report << r.err;
    EXPECT_EQ(reportField(kindAndOutcome), run.report);
  }
  EXPECT_EQ(reportField("r[\"host\"][\"printSystem\"], r[\"host\"][\"cupsVersion\"] >= 2000"), "CUPS True");
  // A queue whose model has no new PPD leaves the update partial.
  createQueues();
  host->sh("sed -i 's/Tamra Lumo 4400 PS/Tamra Cendra 1100 PS/' /etc/cups/ppd/Lab.ppd");  // a model without a new PPD
  EXPECT_EQ(setup({"-x", "1"}).status, 1);
  EXPECT_EQ(reportField("r[\"outcome\"], [(q[\"name\"], q[\"outcome\"]) for q in r[\"queues\"]]"),
            "partial [('Office', 'updated'), ('Lab', 'failed')]");
  EXPECT_EQ(reportField("[(d[\"option\"], d[\"value\"]) for d in r[\"queues\"][0][\"defaultsCarried\"] if "
                        "d[\"option\"] == \"PageSize\"]"),
            "[('PageSize', 'Legal')]");
  // Removal, answered yes.
  SandboxResult removal = host->run({"/opt/orv/bin/setup", "-d", "-x", "1"}, {.input = "s\n", .env = kFromDist.env});
  EXPECT_EQ(removal.status, 0) << removal.err;
  EXPECT_EQ(reportField(kindAndOutcome), "removal ok");
}

TEST_F(FleetOptionsE2E, ADryRunTellsWhatItWouldDoAndChangesNothing) {
  ASSERT_EQ(setup().status, 0);  // the product, installed
  createQueues();
  const std::string before = queueState();
  host->sh("rm -f /usr/share/ppd/orv/tamra_lumo4400_ps.ppd.gz");  // the dry run must find it in the tree to be copied
  // With SELinux on, a policy module of root's is there to load, by a semodule that leaves its mark.
  host->write("/opt/orv/etc/mivo.pp", "policy\n");
  host->write("/usr/sbin/semodule", "#!/bin/sh\ntouch /srv/semodule-ran\n", 0755);
  host->sh("touch /srv/settled");  // a change before the run, so that changed() shows only the run's own
  SandboxResult r = setup({"-n", "-S", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const SandboxChange& change : host->changed())
    EXPECT_TRUE(change.path == kLog || change.path == kReport) << change;
  EXPECT_EQ(queueState(), before);
  // The new PPDs are those the installation would copy into the PPD directory.
  EXPECT_EQ(reportField("r[\"kind\"], sorted((q[\"name\"], q[\"outcome\"], q[\"newPpd\"]) for q in r[\"queues\"])"),
            "dry-run [('Lab', 'would-update', '/srv/mivo/ppd/tamra_lumo4400_ps.ppd.gz'), "
            "('Office', 'would-update', '/srv/mivo/ppd/tamra_cendra2100_ps.ppd')]");
  EXPECT_EQ(reportField("sorted(f[\"path\"] for f in r[\"files\"] if f[\"action\"] == \"would-install\")[:2]"),
            "['/opt/orv/bin/setup', '/opt/orv/bin/zebgsfilter']");
  std::string log = host->read(kLog);
  EXPECT_NE(log.find("Dry run: the printer Office would move to /srv/mivo/ppd/tamra_cendra2100_ps.ppd, saved first as "
                     "/etc/cups/Office.ppd.rpmsave; defaults carried: "),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("restablecer CUPS"), std::string::npos);
}

TEST_F(FleetOptionsE2E, ARollbackPutsEveryQueueBackAsItWas) {
  ASSERT_EQ(setup().status, 0);
  createQueues();
  // Another make's PPD with a saved copy of its own is not ours to put back.
  host->write("/etc/cups/ppd/Other.ppd", "*PPD-Adobe: \"4.3\"\n*ModelName: \"Acme Writer 9\"\n");
  host->write("/etc/cups/Other.ppd.rpmsave", "*PPD-Adobe: \"4.3\"\n*ModelName: \"Acme Writer 8\"\n");
  const std::string before = queueState();
  ASSERT_EQ(setup().status, 0);
  ASSERT_NE(queueState(), before);
  ASSERT_EQ(setup({"-r"}).status, 0);
  EXPECT_EQ(queueState(), before);
  EXPECT_EQ(reportField("sorted((q[\"name\"], q[\"outcome\"]) for q in r[\"queues\"])"),
            "[('Lab', 'rolled-back'), ('Office', 'rolled-back')]");
  std::string log = host->read(kLog);
  EXPECT_TRUE(linesInOrder(log, {"Printers with a saved PPD to go back to: 2.",
                                 "The printer Office is back on /etc/cups/Office.ppd.rpmsave."}))
      << log;
  // Asked queue by queue: only the queue answered yes goes back.
  ASSERT_EQ(setup().status, 0);
  EXPECT_EQ(setup({"-r", "-q", "1"}, {.input = "n\ns\n", .env = kFromDist.env, .cwd = "/srv/mivo"}).status, 0);
  EXPECT_EQ(reportField("sorted(q[\"outcome\"] for q in r[\"queues\"])"), "['kept', 'rolled-back']");
}

}  // namespace
