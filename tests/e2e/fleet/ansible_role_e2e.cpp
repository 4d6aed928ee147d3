// The Ansible role of contrib/ansible on sandboxed print servers: the playbook
// runs inside each host over the local connection, with the host itself as
// the controller, against a real cupsd.
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e/e2e_support.h"

namespace {

using nlohmann::json;

const std::string kController = "/srv/controller";
const std::string kFetched = kController + "/reports/localhost/Mivo4.0_UpdateReport.json";
const std::string kSchema = kController + "/report-schema.json";
const std::string kOld = "/srv/old";
const std::string kDest = "/srv/mivo-dist";

// The play the tests run: the role on the one host, with the controller's
// paths of this layout.
const std::string kPlay = R"(- hosts: all
  gather_facts: false
  vars:
    mivo_dist_src: /srv/controller/dist
    mivo_report_dir: /srv/controller/reports
    mivo_setup_environment: {ZEBLPMODE: CUPS}
  roles: [mivo_setup]
)";

std::string repoPath(const std::string& relative) {
  return std::filesystem::path(__FILE__).parent_path() / "../../.." / relative;
}

// The counts of the play recap's one host line: "ok=9 changed=3 unreachable=0 ...".
std::string recapOf(const std::string& out) {
  size_t recap = out.find("PLAY RECAP");
  if (recap == std::string::npos) return "no recap";
  size_t line = out.find("localhost", recap);
  std::istringstream words(out.substr(line, out.find('\n', line) - line));
  std::string counts;
  for (std::string word; words >> word;)
    if (word.find('=') != std::string::npos) counts += (counts.empty() ? "" : " ") + word;
  return counts;
}

// A report line as the failure message shows it: trimmed, inside ansible's
// JSON output.
std::string asShown(const json& line) {
  std::string text = line.get<std::string>();
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t") + 1);
  std::string quoted = json(text).dump();
  return quoted.substr(1, quoted.size() - 2);
}

class AnsibleRoleHeavyE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(repoPath("contrib/ansible"), kController + "/ansible");
    host->copyIn(repoPath("contrib/report-schema.json"), kSchema);
    host->copyIn(DIST_DIR, kController + "/dist");
    host->write(kController + "/ansible/fleet.yml", kPlay);
    host->mkdir(kController + "/home", 0700);
    for (const char* ppd : {"tamra_cendra2100_ps.ppd", "tamra_cendra2100duo_pcl.ppd", "tamra_lumo4400_ps.ppd"})
      host->write(kOld + "/" + ppd, machineText(repoPath(std::string("tests/fixtures/ppd-old/") + ppd)));
    host->startCups();
  }

  void createQueue(const std::string& name, const std::string& ppd) {
    ASSERT_EQ(host->sh("lpadmin -p " + name + " -E -v socket://127.0.0.1:9100 -P " + ppd).status, 0);
  }

  // The usual queues of an older release, one per shipped model kind.
  void createOlderQueues() {
    createQueue("Office", kOld + "/tamra_cendra2100_ps.ppd");
    createQueue("Lab", kOld + "/tamra_cendra2100duo_pcl.ppd");
    createQueue("Hall", kOld + "/tamra_lumo4400_ps.ppd");
  }

  SandboxResult play(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {
        "ansible-playbook", "-i", "localhost,", "-c", "local", "-e", "ansible_python_interpreter=/usr/bin/python3"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(kController + "/ansible/fleet.yml");
    SandboxRunOptions options = {.env = {{"HOME", kController + "/home"},
                                         {"LC_ALL", "C.UTF-8"},
                                         {"ANSIBLE_NOCOLOR", "1"},
                                         {"PYTHONDONTWRITEBYTECODE", "1"},
                                         {"ANSIBLE_PIPELINING", "1"}},
                                 .cwd = kController + "/ansible"};
    return host->run(argv, options);
  }

  // The report the play fetched to the controller, checked against the schema.
  json fetchedReport() {
    SandboxResult valid = host->run({"python3", "-c",
                                     "import json, sys, jsonschema\n"
                                     "jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))",
                                     kSchema, kFetched});
    EXPECT_EQ(valid.status, 0) << valid.err;
    return json::parse(host->read(kFetched));
  }

  static std::map<std::string, std::string> queueOutcomes(const json& report) {
    std::map<std::string, std::string> outcomes;
    for (const json& queue : report["queues"]) outcomes[queue["name"]] = queue["outcome"];
    return outcomes;
  }
};

TEST_F(AnsibleRoleHeavyE2E, CleanHostIsUpdatedAndReportedOk) {
  createOlderQueues();
  const std::string oldOffice = host->read("/etc/cups/ppd/Office.ppd");
  SandboxResult result = play();
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  // Changed: the tree's directory, the unpacked tree and setup's own run.
  EXPECT_EQ(recapOf(result.out), "ok=8 changed=3 unreachable=0 failed=0 skipped=6 rescued=0 ignored=0") << result.out;
  json report = fetchedReport();
  EXPECT_EQ(report["kind"], "install");
  EXPECT_EQ(report["outcome"], "ok");
  EXPECT_EQ(queueOutcomes(report),
            (std::map<std::string, std::string>{{"Office", "updated"}, {"Lab", "updated"}, {"Hall", "updated"}}));
  EXPECT_EQ(host->read(kFetched), host->read(kReport));
  EXPECT_EQ(modeOf(*host, kDest + "/bin/setup"), "755");
  EXPECT_EQ(host->read(kDest + "/bin/setup"), machineText(DIST_DIR "/bin/setup"));
  EXPECT_NE(host->read("/etc/cups/ppd/Office.ppd"), oldOffice);

  // The rollback puts the saved PPDs back.
  result = play({"-e", "mivo_rollback=true"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(recapOf(result.out), "ok=8 changed=1 unreachable=0 failed=0 skipped=6 rescued=0 ignored=0")
      << result.out;  // the tree is already there
  report = fetchedReport();
  EXPECT_EQ(report["kind"], "rollback");
  EXPECT_EQ(queueOutcomes(report), (std::map<std::string, std::string>{
                                       {"Office", "rolled-back"}, {"Lab", "rolled-back"}, {"Hall", "rolled-back"}}));
  EXPECT_EQ(host->read("/etc/cups/ppd/Office.ppd"), oldOffice);
}

TEST_F(AnsibleRoleHeavyE2E, QueueWithoutNewPpdFailsTheHostAndIsNamed) {
  createQueue("Office", kOld + "/tamra_cendra2100_ps.ppd");
  // A model the tree ships no PPD for.
  std::string lumo = machineText(repoPath("tests/fixtures/ppd-old/tamra_lumo4400_ps.ppd"));
  for (size_t at = lumo.find("Lumo 4400"); at != std::string::npos; at = lumo.find("Lumo 4400", at))
    lumo.replace(at, 9, "Lumo 3300");
  host->write(kOld + "/tamra_lumo3300_ps.ppd", lumo);
  createQueue("Gone", kOld + "/tamra_lumo3300_ps.ppd");
  // A queue whose old PPD cannot be saved: failure lines in the report's errors.
  createQueue("Lab", kOld + "/tamra_cendra2100duo_pcl.ppd");
  host->mkdir("/etc/cups/Lab.ppd.rpmsave/Lab.ppd");
  const std::string gone = host->read("/etc/cups/ppd/Gone.ppd");

  SandboxResult result = play({"-e", "mivo_errors_shown=1"});
  EXPECT_EQ(result.status, 2) << result.out << result.err;  // ansible-playbook: a host failed
  EXPECT_EQ(recapOf(result.out), "ok=8 changed=3 unreachable=0 failed=1 skipped=5 rescued=0 ignored=0") << result.out;
  json report = fetchedReport();
  EXPECT_EQ(report["outcome"], "partial");
  EXPECT_EQ(queueOutcomes(report),
            (std::map<std::string, std::string>{{"Office", "updated"}, {"Gone", "failed"}, {"Lab", "failed"}}));
  EXPECT_EQ(host->read("/etc/cups/ppd/Gone.ppd"), gone);

  // The failure names each failed queue with its detail, and the first error.
  ASSERT_GE(report["errors"].size(), 2u);
  std::string failure = result.out.substr(result.out.find("fatal: [localhost]"));
  for (const json& queue : report["queues"]) {
    std::string named = queue["name"].get<std::string>() + ": " + queue["detail"].get<std::string>();
    EXPECT_EQ(failure.find(named) != std::string::npos, queue["outcome"] == "failed") << named << "\n" << failure;
  }
  EXPECT_NE(failure.find("Gone: no complete new PPD of its model could be made"), std::string::npos) << failure;
  EXPECT_NE(failure.find("Errors: " + asShown(report["errors"][0]) + " (and " +
                         std::to_string(report["errors"].size() - 1) + " more)."),
            std::string::npos)
      << failure;
  EXPECT_EQ(failure.find(asShown(report["errors"][1])), std::string::npos) << failure;
}

TEST_F(AnsibleRoleHeavyE2E, CheckModeIsADryRunThatChangesNothingOnTheHost) {
  createOlderQueues();
  SandboxResult result = play({"--check"});
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(recapOf(result.out), "ok=9 changed=0 unreachable=0 failed=0 skipped=5 rescued=0 ignored=0") << result.out;
  // Only setup's log and report, and on the controller side the fetched
  // report, the pack and ansible's own temporary directory.
  std::vector<std::string> changed;
  for (const SandboxChange& change : host->changed()) changed.push_back(change.path);
  EXPECT_EQ(changed, (std::vector<std::string>{kController + "/home/.ansible", kController + "/home/.ansible/tmp",
                                               kController + "/reports", kController + "/reports/localhost", kFetched,
                                               kController + "/reports/mivo-dist.tar", kLog, kReport}));
  EXPECT_EQ(host->sh("ls -A /tmp").out, "");  // the staged tree is gone
  json report = fetchedReport();
  EXPECT_EQ(report["kind"], "dry-run");
  EXPECT_EQ(report["outcome"], "ok");
  EXPECT_EQ(queueOutcomes(report), (std::map<std::string, std::string>{
                                       {"Office", "would-update"}, {"Lab", "would-update"}, {"Hall", "would-update"}}));
}

}  // namespace
