// A local user (uid 65534) prepares the host before the administrator runs
// setup: nothing of hers or of the system is taken, changed or trusted.
#include "e2e/e2e_support.h"

using nlohmann::json;

const SandboxRunOptions kAsUser = {.uid = 65534, .gid = 65534};

class HostileHostE2E : public HostTest {};

// Whatever its name, a directory that is not the product's is refused before anything changes.
TEST_F(HostileHostE2E, AnInstallationDirectoryIsTheProductsOrNew) {
  ASSERT_EQ(host->sh("mkdir -p /home/alice/notes && chown -R 65534:65534 /home/alice").status, 0);
  ASSERT_EQ(host->sh("ln -s /usr/lib/cups/filter /home/alice/mivo", kAsUser).status, 0);
  host->startCups();
  for (const char* dir : {"/home/alice", "/home/alice/mivo", "/var/lib", "/etc/cups/ppd", "/root/.ssh"}) {
    SandboxResult refused = setup({"-u", dir, "-x", "1"});
    EXPECT_EQ(refused.status, 2) << dir << refused.out;
    EXPECT_NE(refused.err.find("se rechaza, no se instala ni se elimina nada"), std::string::npos) << dir;
    EXPECT_EQ(changedBesidesTheRunsOwn(), std::vector<std::string>{}) << dir;
    EXPECT_EQ(report()["outcome"], "refused") << dir;
  }
  EXPECT_EQ(host->sh("stat -c %u:%a /home/alice").out, "65534:755\n");
  SandboxResult top = setup({"-u", "/mivo", "-x", "1"});
  EXPECT_EQ(top.status, 0) << top.err;
  EXPECT_TRUE(host->exists("/mivo/bin/setup"));
}

// What a user plants at a name the product uses is neither believed nor written through.
TEST_F(HostileHostE2E, PlantedFilesAreNeitherBelievedNorWrittenThrough) {
  host->write("/etc/shadow", "root:secret:1:0:99999:7:::\n", 0640);
  host->startCups();
  queue("Office", "tamra_cendra2100_ps.ppd", "-o PageSize=Legal");
  ASSERT_EQ(setup({"-x", "1"}).status, 0);
  std::string moved = host->read("/etc/cups/ppd/Office.ppd");

  // A saved PPD replaced by a link to the shadow file: the rollback leaves the queue as it is.
  ASSERT_EQ(host->sh("ln -sf /etc/shadow /etc/cups/Office.ppd.rpmsave").status, 0);
  SandboxResult back = setup({"/opt/orv/bin/setup", "-r", "-x", "1"});
  EXPECT_EQ(back.status, 1);
  EXPECT_EQ(host->read("/etc/cups/ppd/Office.ppd"), moved);
  EXPECT_EQ(report()["queues"][0]["outcome"], "failed");

  // An information file of hers, named through MIVOINFO, names no queue to remove.
  queue("Boss", "tamra_lumo4400_ps.ppd");
  host->write("/tmp/mivoInfo4.0", "USRDIR /opt/orv\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\nBoss\n%%ZEBBLOCK_PRINTERS_END\n");
  ASSERT_EQ(host->sh("chown 65534 /tmp/mivoInfo4.0").status, 0);
  SandboxResult removal =
      setup({"/opt/orv/bin/setup", "-d"}, {.input = "s\n", .env = {{"MIVOINFO", "/tmp/mivoInfo4.0"}}});
  EXPECT_NE(host->sh("lpstat -p Boss").out.find("Boss"), std::string::npos) << removal.err;
  EXPECT_NE(host->read(kLog).find("/tmp/mivoInfo4.0 no es solo de root"), std::string::npos);
}

// An update from the older release saves its PPDs even when a user's file holds the archive's name.
TEST_F(HostileHostE2E, APlantedArchiveStopsNoArchive) {
  host->write("/opt/orv/mivoInfo2.0", "# Mivo 2.0 Information File\nUSRDIR          /opt/orv\n");
  host->write("/usr/share/ppd/orv/old.ppd", "*PPD-Adobe: \"4.3\"\n");
  host->write("/var/tmp/MivoPPDFiles4.0-11.tar", "hers");
  ASSERT_EQ(host->sh("chown 65534 /var/tmp/MivoPPDFiles4.0-11.tar").status, 0);
  host->startCups();
  EXPECT_EQ(setup({"-x", "1"}).status, 0);
  EXPECT_EQ(host->read("/var/tmp/MivoPPDFiles4.0-11.tar"), "hers");
  json r = report();
  std::string archive;
  for (const json& file : r["files"])
    if (file["action"] == "archive") archive = file["path"].get<std::string>();
  ASSERT_TRUE(archive.starts_with("/var/tmp/MivoPPDFiles4.0-11.tar.")) << archive;
  EXPECT_NE(host->sh("tar tf " + archive).out.find("old.ppd"), std::string::npos);
}

// Where /var/log is open to a group, whose members could swap a directory
// in it, the report goes where only root may write, and the run says where.
TEST_F(HostileHostE2E, AGroupWritableLogDirectoryGivesNobodyTheReport) {
  ASSERT_EQ(host->sh("chgrp 65534 /var/log && chmod 0775 /var/log").status, 0);
  host->write("/etc/shadow", "root:secret:1:0:99999:7:::\n", 0640);
  ASSERT_EQ(host->sh("ln -s /etc/shadow /var/log/Mivo4.0_UpdateLog", kAsUser).status, 0);  // her link at the log's name
  host->startCups();
  SandboxResult run = setup({"-x", "1"});
  EXPECT_EQ(run.status, 1);  // the report's usual place is refused, and that is told as a failure
  EXPECT_NE(run.out.find("informe: /var/lib/mivo/Mivo4.0_UpdateReport.json."), std::string::npos) << run.out;
  EXPECT_FALSE(host->exists(kReport));
  EXPECT_EQ(host->read("/etc/shadow"), "root:secret:1:0:99999:7:::\n");
  SandboxResult forged = host->sh("echo '{}' > /var/lib/mivo/Mivo4.0_UpdateReport.json", kAsUser);
  EXPECT_NE(forged.status, 0);
}
