// The Ansible role of contrib/ansible on a sandboxed print server with a real
// scheduler: the play runs inside the host over the local connection, the
// host being its own controller. Each step's play recap and fetched report
// (checked against contrib/report-schema.json) tell what the role did.
#include <map>
#include <sstream>

#include "e2e/e2e_support.h"

namespace {

using nlohmann::json;

const std::string kController = "/srv/controller";
const std::string kFetched = kController + "/reports/localhost/Mivo4.0_UpdateReport.json";
const std::string kPlay = R"(- hosts: all
  gather_facts: false
  vars:
    mivo_dist_src: /srv/mivo
    mivo_report_dir: /srv/controller/reports
    mivo_setup_environment: {ZEBLPMODE: CUPS}
  roles: [mivo_setup]
)";

class AnsibleRoleHeavyE2E : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(SOURCE_DIR "/contrib/ansible", kController + "/ansible");
    host->copyIn(SOURCE_DIR "/contrib/report-schema.json", kController + "/report-schema.json");
    host->write(kController + "/ansible/fleet.yml", kPlay);
    host->startCups();
  }

  // The play on this host; its output, and the recap's changed and failed counts.
  SandboxResult play(const std::vector<std::string>& extra, const std::string& recap) {
    std::vector<std::string> argv = {
        "ansible-playbook", "-i", "localhost,", "-c", "local", "-e", "ansible_python_interpreter=/usr/bin/python3"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("fleet.yml");
    SandboxResult r = host->run(argv, {.env = {{"HOME", kController + "/home"},
                                               {"LC_ALL", "C.UTF-8"},
                                               {"ANSIBLE_NOCOLOR", "1"},
                                               {"PYTHONDONTWRITEBYTECODE", "1"}},
                                       .cwd = kController + "/ansible",
                                       .timeout = std::chrono::seconds(300)});
    size_t line = r.out.find("localhost", r.out.find("PLAY RECAP"));
    std::istringstream words(line == std::string::npos ? "" : r.out.substr(line, r.out.find('\n', line) - line));
    std::string counts;
    for (std::string word; words >> word;)
      if (word.find('=') != std::string::npos) counts += word + " ";
    EXPECT_NE(counts.find(recap), std::string::npos) << counts << "\n" << r.out << r.err;
    return r;
  }

  // The report fetched to the controller, valid by the schema; its queues' outcomes.
  std::map<std::string, std::string> fetched(json& report) {
    SandboxResult valid = host->run({"python3", "-c",
                                     "import json, sys, jsonschema\n"
                                     "jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))",
                                     kController + "/report-schema.json", kFetched});
    EXPECT_EQ(valid.status, 0) << valid.err;
    report = json::parse(host->read(kFetched));
    std::map<std::string, std::string> outcomes;
    for (const json& queue : report["queues"]) outcomes[queue["name"]] = queue["outcome"];
    return outcomes;
  }
};

using Outcomes = std::map<std::string, std::string>;

TEST_F(AnsibleRoleHeavyE2E, CheckInstallRerunRollbackRemoval) {
  queue("Office", "tamra_cendra2100_ps.ppd", "-o PageSize=Legal");
  queue("Lab", "tamra_lumo4400_ps.ppd", "-o Duplex=DuplexTumble");
  const std::string office = host->read("/etc/cups/ppd/Office.ppd");
  json report;

  // Check mode: the dry run predicts a change, and nothing on the host changes but the run's own files.
  play({"--check"}, "changed=1 unreachable=0 failed=0");
  std::vector<std::string> changed;
  for (const std::string& path : changedBesidesTheRunsOwn()) {
    bool ignored = false;
    for (const char* scratch : {"/srv/controller", "/root/.ansible", "/tmp", "/var/log/cups/"})
      ignored = ignored || path.starts_with(scratch);
    if (!ignored) changed.push_back(path);
  }
  EXPECT_EQ(changed, std::vector<std::string>{});
  EXPECT_EQ(host->sh("find /tmp -name '*.mivo-dist'").out, "");  // the staged tree is gone
  EXPECT_EQ(fetched(report), (Outcomes{{"Office", "would-update"}, {"Lab", "would-update"}}));
  EXPECT_EQ(report["kind"], "dry-run");
  EXPECT_TRUE(report["changed"]);

  // The installation moves both queues; the fetched report is the one on the host.
  play({}, "changed=1 unreachable=0 failed=0");
  EXPECT_EQ(fetched(report), (Outcomes{{"Office", "updated"}, {"Lab", "updated"}}));
  EXPECT_EQ(report["kind"], "install");
  EXPECT_EQ(host->read(kFetched), host->read(kReport));
  EXPECT_NE(host->read("/etc/cups/ppd/Office.ppd"), office);
  EXPECT_TRUE(host->exists("/srv/mivo-dist/bin/setup"));

  // The same release again: ok, not changed.
  play({}, "changed=0 unreachable=0 failed=0");
  EXPECT_EQ(fetched(report), (Outcomes{{"Office", "unchanged"}, {"Lab", "unchanged"}}));
  EXPECT_EQ(report["kind"], "update");
  EXPECT_FALSE(report["changed"]);

  // The rollback puts the saved PPDs back.
  play({"-e", "mivo_rollback=true"}, "changed=1 unreachable=0 failed=0");
  EXPECT_EQ(fetched(report), (Outcomes{{"Office", "rolled-back"}, {"Lab", "rolled-back"}}));
  EXPECT_EQ(host->read("/etc/cups/ppd/Office.ppd"), office);

  // A removal has no dry run: check mode leaves it undone. Then it takes the queues the
  // information file lists, and the product's programs.
  SandboxResult checked = play({"--check", "-e", "mivo_state=absent"}, "changed=0 unreachable=0 failed=0");
  EXPECT_NE(checked.out.find("setup has no dry run of a removal"), std::string::npos) << checked.out;
  EXPECT_TRUE(host->exists("/opt/orv/bin/setup"));
  ASSERT_EQ(host->sh("sed -i 's/^Default$/Default\\nOffice\\nLab/' /opt/orv/mivoInfo4.0").status, 0);
  play({"-e", "mivo_state=absent"}, "changed=1 unreachable=0 failed=0");
  EXPECT_EQ(fetched(report), (Outcomes{{"Office", "removed"}, {"Lab", "removed"}}));
  EXPECT_EQ(report["kind"], "removal");
  EXPECT_FALSE(host->exists("/opt/orv/bin"));
  EXPECT_EQ(host->sh("lpstat -p").out.find("Office"), std::string::npos);
}

}  // namespace
