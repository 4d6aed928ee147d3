// Hostile hosts: names, paths and a local user that try to make root's run
// write, remove or run something outside the product's own places. Every row
// checks, through the host's list of changed paths, that nothing else changed
// and that no canary command ran.
#include <filesystem>

#include "e2e/e2e_support.h"

namespace {

const std::string kOld = "/srv/old";
const SandboxRunOptions kFromDist = {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo"};
const std::string kNobody = "65534";

std::string fixture(const std::string& name) {
  return machineText(std::filesystem::path(__FILE__).parent_path() / "../../fixtures/ppd-old" / name);
}

// The places a run may change: the product's own, the scheduler's, the run's
// log and report, and the distribution tree the test copied in.
bool isProductPlace(const std::string& path) {
  for (const char* prefix : {"/opt/orv", "/usr/share/ppd/orv", "/usr/share/cups/model/orv", "/etc/cups",
                             "/var/spool/cups", "/var/cache/cups", "/var/log/cups", "/var/tmp/MivoPPDFiles",
                             "/var/log/Mivo4.0_Update", "/usr/bin/zebgsfilter", "/srv", "/tmp", "/root/.cups"}) {
    if (path.starts_with(prefix)) return true;
  }
  return path == "/opt" || path == "/usr/share/ppd" || path == "/var/tmp" || path == "/var/log" || path == "/root";
}

::testing::AssertionResult onlyProductPlacesChanged(SandboxHost& host) {
  for (const SandboxChange& change : host.changed()) {
    std::string name = std::filesystem::path(change.path).filename();
    if (name.starts_with("canary") && name.size() <= 7)
      return ::testing::AssertionFailure() << "a canary ran: " << change;
    if (!isProductPlace(change.path)) return ::testing::AssertionFailure() << "outside the product: " << change;
  }
  return ::testing::AssertionSuccess();
}

class RootSafetyE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(DIST_DIR, "/srv/mivo");
    for (const char* ppd : {"tamra_cendra2100_ps.ppd", "tamra_lumo4400_ps.ppd"})
      host->write(kOld + "/" + ppd, fixture(ppd));
  }
  SandboxResult setup(std::vector<std::string> args = {}, SandboxRunOptions options = kFromDist) {
    args.insert(args.begin(), "./bin/setup");
    return host->run(args, options);
  }
  SandboxResult asNobody(const std::string& script) {
    return host->sh(script, {.uid = static_cast<uid_t>(std::stoi(kNobody))});
  }
  void installOnce() {
    host->startCups();
    ASSERT_EQ(setup().status, 0);
  }
};

TEST_F(RootSafetyE2E, SystemDirectoriesAreNeverInstallationDirectories) {
  host->write("/opt/orv/mivoInfo4.0", "USRDIR          /opt/orv\n");  // something to remove, were -d to go on
  host->write("/etc/usrdir-root", "USRDIR          /\n");
  const std::pair<std::vector<std::string>, std::map<std::string, std::string>> runs[] = {
      {{"-u", "/"}, {}},
      {{"-u", "//"}, {}},
      {{"-u", "/."}, {}},
      {{"-u", "/tmp/.."}, {}},
      {{"-u", ".."}, {}},
      {{"-u", "/usr/bin"}, {}},
      {{"-u", "/var/lib"}, {}},
      {{"-u", "/etc"}, {}},
      {{"-u", "/usr/local/bin"}, {}},
      {{"-d", "-u", "/"}, {}},
      {{"-d", "-u", "/tmp/.."}, {}},
      {{"-d", "-u", "/usr"}, {}},
      {{}, {{"MIVOINFO", "/etc/usrdir-root"}}},  // through the information file's USRDIR
  };
  for (const auto& [args, env] : runs) {
    SandboxRunOptions options = kFromDist;
    options.env.insert(env.begin(), env.end());
    options.input = "s\n";
    SandboxResult r = setup(args, options);
    std::string what = ::testing::PrintToString(args) + ::testing::PrintToString(env);
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_NE(r.err.find("a directory of the system itself; refused, nothing installed or removed."), std::string::npos)
        << what << r.err;
    for (const SandboxChange& change : host->changed())
      EXPECT_TRUE(change.path == kLog || change.path == kReport) << what << ": " << change;
  }
  EXPECT_TRUE(host->exists("/opt/orv/mivoInfo4.0"));
}

TEST_F(RootSafetyE2E, HostileQueueNamesRunNothingAndTouchNothingElse) {
  host->startCups();
  const std::string ppd = host->read(kOld + "/tamra_cendra2100_ps.ppd");
  const std::vector<std::string> names = {
      "a;touch canary1", "$(touch canary2)", "`touch canary3`", "q'uote\"d", "-rf",          "blank name",
      "tab\tname",       "new\nline",        "star*",           "..",        "\xE9\xFF\x80", std::string(250, 'L'),
  };
  for (const std::string& name : names) host->write("/etc/cups/ppd/" + name + ".ppd", ppd, 0640);
  // Queue names that the scheduler itself accepts.
  for (const char* name : {"q;touch${IFS}canary4", "q$(touch${IFS}canary5)", "q`touch${IFS}canary6`"}) {
    ASSERT_EQ(
        host->run({"lpadmin", "-p", name, "-E", "-v", "socket://127.0.0.1:9100", "-P", kOld + "/tamra_lumo4400_ps.ppd"})
            .status,
        0)
        << name;
  }
  ASSERT_EQ(setup({}, {.env = kFromDist.env, .cwd = "/srv/mivo"}).status, 0);
  EXPECT_TRUE(onlyProductPlacesChanged(*host));
  EXPECT_FALSE(host->exists("/opt/orv/../root/mivoConfig"));  // the queue ".." is passed over
  EXPECT_TRUE(
      linesInOrder(host->read(kLog), {"Queue PPD passed over, its name cannot name a queue or a file: '...ppd'."}));
  for (const char* name : {"a;touch canary1", "-rf", "new\nline", "\xE9\xFF\x80"})
    EXPECT_TRUE(host->exists("/etc/cups/" + std::string(name) + ".ppd.rpmsave")) << name;
  // Removal with the same names in the information file's printers block.
  std::string info = host->read("/opt/orv/mivoInfo4.0");
  std::string block;
  for (const std::string& name : names) block += name + "\n";
  block += "q;touch${IFS}canary4\nstdin\nfd\ncore\nqfifo\ntamra\nnull\n/\n";
  info.replace(info.find("Default\n"), 8, "Default\n" + block);
  host->write("/opt/orv/mivoInfo4.0", info, 0755);
  host->write("/dev/core", "a queue's leftover\n");  // root's own file: it may go
  host->sh("mkfifo /dev/qfifo && mknod /dev/tamra c 1 3");
  ASSERT_EQ(host->run({"/srv/mivo/bin/setup", "-d"}, {.input = "s\n", .env = kFromDist.env}).status, 0);
  EXPECT_TRUE(onlyProductPlacesChanged(*host));
  EXPECT_EQ(
      host->sh("readlink /dev/stdin /dev/fd; test -e /dev/core || echo core gone; test -e /dev/qfifo || echo fifo gone")
          .out,
      "/proc/self/fd/0\n/proc/self/fd\ncore gone\nfifo gone\n");
  EXPECT_EQ(host->sh("lpstat -p 2>/dev/null | grep -c canary4").out, "0\n");
}

TEST_F(RootSafetyE2E, AUserPreparingTheHostGetsNothingFromRootsRun) {
  installOnce();
  // An older installer left the product directory open to every user.
  host->sh("chmod 0777 /opt/orv /opt/orv/etc && echo secret > /root/secret && chmod 600 /root/secret");
  // The user swaps etc for a directory of links to root's files, and plants in /tmp and /var/tmp.
  ASSERT_EQ(asNobody("mv /opt/orv/etc /opt/orv/etc.old && mkdir /opt/orv/etc && "
                     "cp /opt/orv/etc.old/MIVOINST.CONF /opt/orv/etc/ && "
                     "for f in UNINSTALLMIVO mivo4.0.png; do ln -s /root/secret /opt/orv/etc/$f; done && "
                     "ln -s /root/secret /opt/orv/mivoInfo4.0.lnk && "
                     "for p in $(seq $$ $(($$ + 300))); do mkdir /tmp/ZEBLPD$p /tmp/ZEBLPRNG$p; done && "
                     "ln -s /root/secret /var/tmp/MivoPPDFiles4.0-11.tar")
                .status,
            0);
  SandboxResult r = host->run({"/opt/orv/bin/setup"}, {.env = {}});  // detection by the process list
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(host->read("/root/secret"), "secret\n");
  EXPECT_EQ(host->sh("stat -c '%a %U' /root/secret /opt/orv /opt/orv/etc").out, "600 root\n755 root\n755 root\n");
  std::string log = host->read(kLog);
  EXPECT_TRUE(
      linesInOrder(log, {"System gerente de impresoras = CUPS",
                         "Taking back /opt/orv: owner root, mode 0755 (it was owner 0, group 0, mode 0777).",
                         "\t'/opt/orv/etc/UNINSTALLMIVO' is a symbolic link where a file was expected; left alone."}))
      << log;
  EXPECT_EQ(host->sh("readlink /opt/orv/etc/mivo4.0.png").out, "/root/secret\n");  // left alone, never followed
  EXPECT_TRUE(onlyProductPlacesChanged(*host));
  // A removal never deletes through a directory link in the middle of a path.
  host->sh("rm -rf /opt/orv/etc && mkdir /root/elsewhere && touch /root/elsewhere/UNINSTALLMIVO "
           "/root/elsewhere/MIVOINST.CONF && ln -s /root/elsewhere /opt/orv/etc");
  ASSERT_EQ(host->run({"/opt/orv/bin/setup", "-d"}, {.input = "s\n"}).status, 0);
  EXPECT_EQ(host->sh("ls /root/elsewhere").out, "MIVOINST.CONF\nUNINSTALLMIVO\n");
  EXPECT_FALSE(host->exists("/opt/orv/bin/setup"));
}

// A scheduler a user runs, from a tree of the user's or from one of root's,
// never tells root where its commands are; a user's program is never run.
TEST_F(RootSafetyE2E, AFakeSchedulerOfAUserNeverLendsRootItsPrograms) {
  auto layOut = [](const std::string& tree) {
    return "mkdir -p " + tree + "/sbin " + tree + "/bin && cp /bin/sleep " + tree + "/sbin/cupsd && " +
           "printf '#!/bin/sh\\ntouch /tmp/canary-$(basename $0)\\n' > " + tree + "/bin/lpadmin && cp " + tree +
           "/bin/lpadmin " + tree + "/bin/lpstat && chmod 755 " + tree + "/bin/*";
  };
  host->mkdir("/tmp/evil", 0777);
  ASSERT_EQ(asNobody(layOut("/tmp/evil")).status, 0);
  ASSERT_EQ(host->sh(layOut("/srv/alt")).status, 0);  // root's own, an older scheduler's say
  // Nor is a program a user owns in a system directory ever run.
  host->write("/usr/local/bin/selinuxenabled", "#!/bin/sh\ntouch /tmp/canary-selinuxenabled\n", 0755);
  ASSERT_EQ(host->sh("chown nobody /usr/local/bin/selinuxenabled").status, 0);
  for (const std::string tree : {"/tmp/evil", "/srv/alt"}) {
    host->write("/opt/orv/mivoInfo4.0",
                "USRDIR          /opt/orv\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\nOffice\n"
                "%%ZEBBLOCK_PRINTERS_END\n");
    ASSERT_EQ(asNobody("(setsid " + tree + "/sbin/cupsd 600 </dev/null >/dev/null 2>&1 &)").status, 0);
    SandboxResult r = host->run({"/srv/mivo/bin/setup", "-d"}, {.input = "s\n"});
    host->sh("pkill -f " + tree + "/sbin/cupsd");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* canary : {"/tmp/canary-lpadmin", "/tmp/canary-lpstat", "/tmp/canary-selinuxenabled"})
      EXPECT_FALSE(host->exists(canary)) << tree << ": " << canary;
    std::string log = host->read(kLog);
    EXPECT_TRUE(linesInOrder(log, {"System gerente de impresoras = CUPS", "CUPS directorio base: /",
                                   "CUPS directorio binaria: /usr", "lpadmin = /usr/sbin/lpadmin"}))
        << tree << "\n" << log;
  }
}

TEST_F(RootSafetyE2E, PlantedThingsAtFixedPathsNeitherBlockNorRedirect) {
  installOnce();
  host->sh("lpadmin -p Office -E -v socket://127.0.0.1:9100 -P " + kOld +
           "/tamra_cendra2100_ps.ppd && "
           "lpadmin -p Lab -E -v socket://127.0.0.1:9100 -P " +
           kOld +
           "/tamra_lumo4400_ps.ppd && "
           "lpadmin -p Hall -E -v socket://127.0.0.1:9100 -P " +
           kOld + "/tamra_lumo4400_ps.ppd");
  host->write("/root/victim", "untouched\n");
  host->symlink("/root/victim", "/etc/cups/Office.ppd.rpmsave");
  host->sh(
      "mkfifo /etc/cups/Lab.ppd.rpmsave && ln -s /nowhere /etc/cups/Hall.ppd.rpmsave && "
      "rm -f /var/log/Mivo4.0_UpdateLog && mkfifo /var/log/Mivo4.0_UpdateLog");
  const std::string office = host->read("/etc/cups/ppd/Office.ppd");
  SandboxResult r = host->run({"/opt/orv/bin/setup"}, {.env = kFromDist.env, .timeout = std::chrono::seconds(60)});
  EXPECT_EQ(r.status, 0);
  // No log (a fifo stands there): the lines went to standard error.
  EXPECT_NE(r.err.find("Impresora = Office con PPD=/etc/cups/ppd/Office.ppd"), std::string::npos);
  EXPECT_EQ(host->read("/root/victim"), "untouched\n");
  EXPECT_EQ(host->read("/etc/cups/Office.ppd.rpmsave"), office);  // the link itself was replaced
  EXPECT_EQ(host->read("/etc/cups/Hall.ppd.rpmsave").substr(0, 10), "*PPD-Adobe");
  EXPECT_NE(host->read("/etc/cups/ppd/Hall.ppd").find("FileVersion: \"2.0\""), std::string::npos);
  EXPECT_NE(host->read("/etc/cups/ppd/Office.ppd").find("FileVersion: \"2.0\""), std::string::npos);
  EXPECT_EQ(host->sh("test -p /etc/cups/Lab.ppd.rpmsave && echo fifo").out,
            "fifo\n");  // a fifo is not a file to replace
  EXPECT_EQ(host->read("/etc/cups/ppd/Lab.ppd").find("FileVersion: \"2.0\""), std::string::npos);
}

TEST_F(RootSafetyE2E, RemovalSaysWhenNothingWasRemoved) {
  host->write("/opt/orv/mivoInfo4.0", "USRDIR          /opt/orv\n");
  host->mkdir("/srv/empty");
  for (const std::string dir : {"/srv/empty", "/srv/missing"}) {
    SandboxResult r = host->run({"/srv/mivo/bin/setup", "-d", "-u", dir}, {.input = "s\n", .env = kFromDist.env});
    EXPECT_NE(r.err.find("Nothing of Mivo was found in '" + dir + "'; nothing was removed."), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("ha sido desinstalado"), std::string::npos) << r.err;
  }
  // An archive that cannot be made is not reported as made.
  host->write("/opt/orv/mivoInfo2.0", "# Mivo 2.0 Information File\nUSRDIR /opt/orv\n");
  host->hide("/opt/orv/mivoInfo4.0");
  host->hide("/var/tmp");
  host->startCups();
  ASSERT_EQ(setup().status, 0);
  std::string log = host->read(kLog);
  EXPECT_NE(
      log.find(latin1(".\n: ¡ERROR!\n\tNo archive of the PPD files was made at /var/tmp/MivoPPDFiles4.0-11.tar.\n")),
      std::string::npos)
      << log;
  EXPECT_EQ(log.find("en: /var/tmp/MivoPPDFiles4.0-11.tar."), std::string::npos);
}

}  // namespace
