// The queue update on a sandboxed host with a real cupsd: queues made from
// older product PPDs move to the new PPDs of their models, defaults kept.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "e2e/e2e_support.h"

namespace {

const std::string kLog = "/var/log/Mivo4.0_UpdateLog";
const std::string kDist = "/srv/mivo";
const std::string kOld = "/srv/old";
const SandboxRunOptions kFromDist = {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = kDist};

std::string sourcePath(const std::string& relative) {
  return (std::filesystem::path(__FILE__).parent_path() / "../../.." / relative).lexically_normal().string();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A PPD of another maker: no product comment, a model outside the table.
std::string otherMakersPpd() {
  std::ifstream in(sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd"));
  std::ostringstream ppd;
  for (std::string line; std::getline(in, line);)
    if (line.find("Mivo") == std::string::npos) ppd << line << "\n";
  return replaceAll(replaceAll(ppd.str(), "Tamra Cendra 2100", "Acme Writer 9"), "Tamra", "Acme");
}

// The defaults as CUPS reports them: option keyword -> its marked choice.
std::map<std::string, std::string> defaultsOf(SandboxHost& host, const std::string& queue) {
  std::map<std::string, std::string> defaults;
  std::istringstream lines(host.sh("lpoptions -p " + queue + " -l").out);
  for (std::string line; std::getline(lines, line);) {
    std::string keyword = line.substr(0, line.find_first_of("/:"));
    std::istringstream choices(line.substr(line.find(": ") + 2));
    for (std::string choice; choices >> choice;)
      if (choice[0] == '*') defaults[keyword] = choice.substr(1);
  }
  return defaults;
}

void createQueue(SandboxHost& host, const std::string& name, const std::string& ppd,
                 const std::string& options = "") {
  ASSERT_EQ(host.sh("lpadmin -p " + name + " -E -v socket://127.0.0.1:9100 -P " + ppd).status, 0);
  if (!options.empty()) {
    ASSERT_EQ(host.sh("lpadmin -p " + name + " " + options).status, 0);
  }
}

// The PPD without its default lines, to compare everything else.
std::string withoutDefaults(const std::string& ppd) {
  std::istringstream in(ppd);
  std::string rest;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("*Default", 0) != 0) rest += line + "\n";
  return rest;
}

std::string newPpdText(const std::string& name) {
  for (const char* dir : {"dist/ppd/", "dist/ppd/gz/"}) {
    std::ifstream in(sourcePath(dir + name));
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  return "";
}

bool isNewVersion(SandboxHost& host, const std::string& queue) {
  return host.read("/etc/cups/ppd/" + queue + ".ppd").find("*FileVersion: \"2.0\"") != std::string::npos;
}

class QueueUpdateE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SANDBOX();
    host_ = std::make_unique<SandboxHost>();
    host_->copyIn(DIST_DIR, kDist);
    host_->copyIn(sourcePath("tests/fixtures/ppd-old"), kOld);
    host_->write("/srv/acme.ppd", otherMakersPpd());
    host_->startCups();
  }

  SandboxResult runSetup(std::vector<std::string> extra = {}, SandboxRunOptions options = kFromDist) {
    std::vector<std::string> argv = {"./bin/setup"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return host_->run(argv, options);
  }

  std::unique_ptr<SandboxHost> host_;
};

TEST_F(QueueUpdateE2E, QueuesGetTheNewPpdOfTheirModelWithTheirDefaults) {
  SandboxHost& host = *host_;
  createQueue(host, "Office", kOld + "/tamra_cendra2100_ps.ppd",
              "-o PageSize=Legal -o MediaType=Thick -o InputSlot=Manual -o TamraTonerSave=False");
  createQueue(host, "Lab", kOld + "/tamra_cendra2100duo_pcl.ppd",
              "-o Duplex=DuplexTumble -o PageSize=Letter -o Resolution=600dpi -o MediaType=Transparency");
  createQueue(host, "Hall", kOld + "/tamra_lumo4400_ps.ppd");
  createQueue(host, "Acme", "/srv/acme.ppd", "-o PageSize=A4");
  host.write("/opt/orv/Office/root/mivoConfig", "a\n%%MIVO_VERSION_1.0\nb\n");
  const std::string office = host.read("/etc/cups/ppd/Office.ppd");
  const std::string lab = host.read("/etc/cups/ppd/Lab.ppd");
  const std::string acme = host.read("/etc/cups/ppd/Acme.ppd");
  const std::string cupsdBefore = host.sh("pgrep -x cupsd").out;

  auto r = runSetup();
  ASSERT_EQ(r.status, 0) << r.err;

  // Changed defaults are carried; one the new PPD does not offer (Manual,
  // Transparency, 300dpi) leaves the new PPD's own default.
  using Defaults = std::map<std::string, std::string>;
  EXPECT_EQ(defaultsOf(host, "Office"),
            (Defaults{{"PageSize", "Legal"}, {"InputSlot", "Auto"}, {"MediaType", "Thick"},
                      {"Resolution", "600dpi"}, {"TamraTonerSave", "False"}, {"JCLDensity", "Normal"}}));
  EXPECT_EQ(defaultsOf(host, "Lab"),
            (Defaults{{"PageSize", "Letter"}, {"InputSlot", "Tray1"}, {"MediaType", "Plain"},
                      {"Resolution", "600dpi"}, {"Duplex", "DuplexTumble"}, {"TamraTonerSave", "True"}}));
  // Hall's new PPD ships compressed; its old defaults (A4, no duplex) are kept too.
  EXPECT_EQ(defaultsOf(host, "Hall"),
            (Defaults{{"PageSize", "A4"}, {"InputSlot", "Tray1"}, {"MediaType", "Plain"},
                      {"Resolution", "600dpi"}, {"Duplex", "None"}, {"TamraTonerSave", "True"}}));
  EXPECT_EQ(withoutDefaults(host.read("/etc/cups/ppd/Office.ppd")), withoutDefaults(newPpdText("tamra_cendra2100_ps.ppd")));
  EXPECT_EQ(withoutDefaults(host.read("/etc/cups/ppd/Lab.ppd")), withoutDefaults(newPpdText("tamra_cendra2100duo_pcl.ppd")));
  EXPECT_EQ(withoutDefaults(host.read("/etc/cups/ppd/Hall.ppd")), withoutDefaults(newPpdText("tamra_lumo4400_ps.ppd")));
  EXPECT_EQ(host.sh("stat -c '%a %U %G' /etc/cups/ppd/Office.ppd").out, "640 root lp\n");

  // The old PPDs are saved beside the PPD directory; CUPS's own Office.ppd.O
  // gets a backup of its own instead of overwriting Office's.
  EXPECT_EQ(host.read("/etc/cups/Office.ppd.rpmsave"), office);
  EXPECT_EQ(host.read("/etc/cups/Lab.ppd.rpmsave"), lab);
  EXPECT_TRUE(host.exists("/etc/cups/Office.ppd.O.rpmsave"));
  EXPECT_EQ(host.read("/etc/cups/ppd/Acme.ppd"), acme);
  EXPECT_FALSE(host.exists("/etc/cups/Acme.ppd.rpmsave"));

  EXPECT_EQ(host.read("/opt/orv/Office/root/mivoConfig"), "a\n%%MIVO_VERSION_3.0\nb\n");
  std::string log = host.read(kLog);
  EXPECT_TRUE(linesInOrder(log, {"Impresora = Office con PPD=/etc/cups/ppd/Office.ppd",
                                 "guardar /etc/cups/ppd/Office.ppd en /etc/cups/Office.ppd.rpmsave: resultado:=0",
                                 "PPD = /usr/share/ppd/orv/tamra_cendra2100_ps.ppd.",
                                 latin1("processNewPPD: Marco nueva opción: *PageSize/Legal."),
                                 "processPrinterConfig(Office): actualizada."}));
  EXPECT_TRUE(linesInOrder(log, {"PPD = /usr/share/ppd/orv/tamra_lumo4400_ps.ppd.gz."}));
  EXPECT_NE(log.find("en /etc/cups/ppd/Lab.ppd: resultado:=0\n"), std::string::npos);
  EXPECT_EQ(host.sh("ls -A /tmp /etc/cups/ppd | grep -c -i zeb").out, "0\n");

  // No systemd in the host: the restart falls back to the service command.
  EXPECT_TRUE(linesInOrder(log, {latin1("restablecer CUPS regresó con: 256"), latin1("restablecer CUPS regresó con: 0")}));
  EXPECT_NE(host.sh("pgrep -x cupsd").out, cupsdBefore);
  EXPECT_EQ(host.sh("lpstat -r").out, "scheduler is running\n");
}

// The scheduler's own carry-over (a bare lpadmin -m) against ours, for the
// same old queue and the same new PPD.
TEST_F(QueueUpdateE2E, SchedulerCarryOverAgreesInsideTheUiBlocks) {
  SandboxHost& host = *host_;
  const std::string changes =
      "-o PageSize=Legal -o MediaType=Thick -o InputSlot=Manual -o TamraTonerSave=False -o JCLDensity=Dark";
  createQueue(host, "Ours", kOld + "/tamra_cendra2100_ps.ppd", changes);
  ASSERT_EQ(runSetup().status, 0);
  createQueue(host, "Theirs", kOld + "/tamra_cendra2100_ps.ppd", changes);
  std::string listed = host.sh("lpinfo -m | grep -o '^[^ ]*orv/tamra_cendra2100_ps.ppd'").out;
  ASSERT_FALSE(listed.empty());
  listed.pop_back();
  ASSERT_EQ(host.sh("lpadmin -p Theirs -m " + listed).status, 0);

  auto ours = defaultsOf(host, "Ours");
  auto theirs = defaultsOf(host, "Theirs");
  ASSERT_EQ(ours.size(), 6u);
  for (const auto& [keyword, value] : theirs) {
    if (keyword == "JCLDensity") continue;
    EXPECT_EQ(ours[keyword], value) << keyword;
  }
  // JCL options stand between *JCLOpenUI and *JCLCloseUI, outside the UI
  // blocks that the transplant rewrites: the scheduler carries Dark over, the
  // update keeps the new PPD's Normal.
  EXPECT_EQ(theirs["JCLDensity"], "Dark");
  EXPECT_EQ(ours["JCLDensity"], "Normal");
}

TEST_F(QueueUpdateE2E, AskingBeforeEachQueueUpdatesExactlyTheAnsweredOnes) {
  SandboxHost& host = *host_;
  createQueue(host, "Office", kOld + "/tamra_cendra2100_ps.ppd");
  createQueue(host, "Lab", kOld + "/tamra_cendra2100duo_pcl.ppd");
  createQueue(host, "Hall", kOld + "/tamra_lumo4400_ps.ppd");
  SandboxRunOptions asking = kFromDist;
  // The first answer is for the installation question.
  asking.input = "s\nno\nyes\nbreak\n";
  auto r = runSetup({"-q", "1"}, asking);
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> asked;
  const std::string question = latin1("¿Desea actualizar la impresora: ");
  for (size_t at = r.out.find(question); at != std::string::npos; at = r.out.find(question, at + 1)) {
    size_t name = at + question.size();
    asked.push_back(r.out.substr(name, r.out.find('?', name) - name));
  }
  ASSERT_EQ(asked.size(), 3u) << r.out;
  EXPECT_FALSE(isNewVersion(host, asked[0]));
  EXPECT_TRUE(isNewVersion(host, asked[1]));
  EXPECT_FALSE(isNewVersion(host, asked[2]));
  EXPECT_FALSE(host.exists("/etc/cups/" + asked[0] + ".ppd.rpmsave"));
  EXPECT_FALSE(host.exists("/etc/cups/" + asked[2] + ".ppd.rpmsave"));

  asking.input = "s\ntodas\n";
  r = runSetup({"-q", "1"}, asking);
  size_t questions = 0;
  for (size_t at = r.out.find(question); at != std::string::npos; at = r.out.find(question, at + 1)) ++questions;
  EXPECT_EQ(questions, 1u);
  for (const std::string& queue : asked) EXPECT_TRUE(isNewVersion(host, queue)) << queue;
}

TEST_F(QueueUpdateE2E, HostileNamesRunNothingAndAQueueWithoutBackupKeepsItsPpd) {
  SandboxHost& host = *host_;
  const std::string hostile = "a b;touch pwned$(touch pwned2)'q`touch pwned3`";
  host.write("/etc/cups/ppd/" + hostile + ".ppd", host.read(kOld + "/tamra_cendra2100_ps.ppd"), 0640);
  createQueue(host, "Lab", kOld + "/tamra_cendra2100duo_pcl.ppd");
  createQueue(host, "Gone", kOld + "/tamra_lumo4400_ps.ppd");
  const std::string lab = host.read("/etc/cups/ppd/Lab.ppd");
  const std::string gone = replaceAll(host.read("/etc/cups/ppd/Gone.ppd"), "Tamra Lumo 4400", "Tamra Lumo 3300");
  host.write("/etc/cups/ppd/Gone.ppd", gone, 0640);
  // A directory in the backup's way makes the backup copy fail.
  host.mkdir("/etc/cups/Lab.ppd.rpmsave/Lab.ppd");
  host.mkdir("/srv/scratch");
  SandboxRunOptions options = kFromDist;
  options.env["TMPDIR"] = "/srv/scratch";

  ASSERT_EQ(runSetup({}, options).status, 0);
  for (const SandboxChange& change : host.changed())
    EXPECT_NE(change.path.substr(change.path.rfind('/') + 1).rfind("pwned", 0), 0u) << change.path;
  EXPECT_TRUE(isNewVersion(host, hostile));
  EXPECT_TRUE(host.exists("/etc/cups/" + hostile + ".ppd.rpmsave"));
  EXPECT_EQ(host.read("/etc/cups/ppd/Lab.ppd"), lab);
  EXPECT_EQ(host.read("/etc/cups/ppd/Gone.ppd"), gone);
  std::string log = host.read(kLog);
  EXPECT_TRUE(linesInOrder(log, {"/etc/cups/ppd/Lab.ppd could not be saved; the printer Lab keeps its PPD."}));
  EXPECT_TRUE(linesInOrder(log, {"Impresora = Gone con PPD=/etc/cups/ppd/Gone.ppd", "PPD NO ENCONTRADA!"}));
  EXPECT_EQ(log.find("en /etc/cups/ppd/Gone.ppd: resultado"), std::string::npos);
  EXPECT_NE(log.find("Nueva PPD para la impresora Lab en: /srv/scratch/zebot"), std::string::npos);
  EXPECT_EQ(host.sh("ls -A /srv/scratch /tmp | grep -c zeb").out, "0\n");
}

}  // namespace
