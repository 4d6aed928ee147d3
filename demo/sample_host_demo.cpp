// The main job on a built-in sample host: a CUPS print server with two
// queues of an older Mivo release (their defaults changed by the user) and
// one queue of another maker. A dry run shows what the installation would
// do; Mivo is then installed from a distribution tree, rolled back, updated
// in place and removed again; the run logs, the run reports and the queues'
// defaults are shown as they go.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "services/run_report.h"  // utf8Text: the log is ISO-8859-1, the terminal wants UTF-8
#include "sandbox/sandbox_host.h"

namespace {

struct SampleQueue {
  std::string name;
  std::string oldPpd;                // of the older release, or "" for another maker's queue
  std::vector<std::string> changes;  // the user's own defaults
};

const std::vector<SampleQueue> kQueues = {
    {"Office", "tamra_cendra2100_ps.ppd", {"PageSize=Letter", "InputSlot=Tray2", "TamraTonerSave=False"}},
    {"Lab", "tamra_lumo4400_ps.ppd", {"Duplex=DuplexTumble", "MediaType=Thick", "Resolution=300dpi"}},
    {"Other", "", {"PageSize=A4"}},
};

void heading(const std::string& text) { std::cout << "\n\033[1m### " << text << "\033[0m\n"; }

void show(const SandboxResult& r) {
  std::cout << utf8Text(r.out);
  if (!r.err.empty()) std::cout << utf8Text(r.err);
}

void shell(SandboxHost& host, const std::string& script) {
  std::cout << "# " << script << "\n";
  show(host.sh(script));
}

void createQueues(SandboxHost& host) {
  for (const SampleQueue& q : kQueues) {
    std::string model = q.oldPpd.empty() ? "-m drv:///sample.drv/generic.ppd" : "-P /root/old-ppd/" + q.oldPpd;
    shell(host, "lpadmin -p " + q.name + " -E -v socket://127.0.0.1:9100 " + model);
    std::string options;
    for (const std::string& change : q.changes) options += " -o " + change;
    shell(host, "lpadmin -p " + q.name + options);
  }
}

void showDefaults(SandboxHost& host, const std::string& when) {
  heading("Queue defaults " + when + " (lpoptions -p QUEUE -l)");
  for (const SampleQueue& q : kQueues) {
    std::cout << "-- " << q.name << ", " << host.sh("grep -m1 '^\\*NickName' /etc/cups/ppd/" + q.name + ".ppd").out;
    show(host.sh("lpoptions -p " + q.name + " -l"));
  }
}

// The run report, trimmed to what an automation looks at first.
void showReport(SandboxHost& host) {
  heading("Run report /var/log/mivo/Mivo4.0_UpdateReport.json (kind, outcome, queues)");
  shell(host,
        "python3 -c 'import json; r = json.load(open(\"/var/log/mivo/Mivo4.0_UpdateReport.json\")); "
        "print(json.dumps({k: r[k] for k in (\"kind\", \"outcome\", \"errors\")}, indent=1)); "
        "[print(json.dumps({k: q[k] for k in (\"name\", \"oldPpd\", \"outcome\", \"newPpd\", \"defaultsCarried\", "
        "\"defaultsNotCarried\")})) for q in r[\"queues\"]]'");
}

void runSetup(SandboxHost& host, const std::string& cwd, const std::vector<std::string>& argv,
              const std::string& input = "") {
  std::string line = "cd " + cwd + " &&";
  for (const std::string& word : argv) line += " " + word;
  heading("Running: " + line + (input.empty() ? "" : " (answering " + input.substr(0, input.size() - 1) + ")"));
  SandboxResult r = host.run(argv, {.input = input, .cwd = cwd});
  show(r);
  std::cout << "exit status " << r.status << "\n";
  heading("Run log /var/log/Mivo4.0_UpdateLog");
  std::cout << utf8Text(host.read("/var/log/Mivo4.0_UpdateLog"));
}

}  // namespace

int main() {
  std::string why;
  if (!SandboxHost::available(&why)) {
    std::cerr << "The sample host needs a sandbox (run as root): " << why << "\n";
    return 1;
  }
  SandboxHost host;
  host.copyIn(DIST_DIR, "/srv/mivo");
  host.copyIn(OLD_PPD_DIR, "/root/old-ppd");
  host.startCups();

  heading("The sample host: CUPS running, foomatic-rip present, distribution tree in /srv/mivo");
  shell(host, "ls -l /srv/mivo /srv/mivo/bin /srv/mivo/etc /srv/mivo/ppd");
  shell(host, "cat /srv/mivo/etc/MIVOINST.CONF");
  createQueues(host);
  shell(host, "lpstat -v");
  showDefaults(host, "before the update");

  // A dry run first: what the installation would do, with nothing changed.
  runSetup(host, "/srv/mivo", {"bin/setup", "-n"});
  showReport(host);

  // Started from the top of the distribution tree, which holds etc/MIVOINST.CONF.
  runSetup(host, "/srv/mivo", {"bin/setup", "-x", "1"});
  showReport(host);
  showDefaults(host, "after the installation");
  shell(host, "ls -l /etc/cups/*.rpmsave /opt/orv /usr/share/ppd/orv 2>&1; head -12 /opt/orv/mivoInfo4.0");

  // Every queue back on the PPD the installation saved, then forward again.
  runSetup(host, "/", {"/opt/orv/bin/setup", "-r"});
  showReport(host);
  showDefaults(host, "after the rollback");

  runSetup(host, "/", {"/opt/orv/bin/setup"});
  showDefaults(host, "after the in-place update");
  // Once more: everything is already right, so nothing changes and CUPS is not restarted.
  runSetup(host, "/", {"/opt/orv/bin/setup"});

  // The product's own queue tools list their queues in the information file's
  // printers block; removal takes the queues from there.
  shell(host,
        "sed -i 's/^Default$/Default\\nOffice\\nLab/' /opt/orv/mivoInfo4.0 && sed -n "
        "'/PRINTERS_BEGIN/,/PRINTERS_END/p' /opt/orv/mivoInfo4.0");
  runSetup(host, "/", {"/opt/orv/bin/setup", "-d"}, "s\n");
  heading("What is left after the removal");
  shell(host, "lpstat -p; ls -lR /opt/orv; ls -l /usr/bin/zebgsfilter 2>&1");
  return 0;
}
