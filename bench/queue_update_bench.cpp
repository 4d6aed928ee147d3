// Figures of the queue update on sandboxed hosts with a real scheduler, N
// product queues on older PPDs and a PPD install directory of M
// gzip-compressed candidate PPDs. A program printing figures, not a test.
//
//   queue_update_bench [N,N,...] [M,M,...]       (default 200 queues, 800 candidates)
//     For every pair a fresh host: the time and peak memory of the first run
//     of `setup` (the installation, which moves every queue to its new PPD),
//     then of a re-run that changes nothing.
//   queue_update_bench --unloaded [N,N,...] [M,M,...]
//     The same with queue PPDs the scheduler has not loaded: setup's own cost
//     at sizes where the scheduler's loading of its queues (over an hour for
//     ten thousand here, twice with its restart) would hide it.
//   queue_update_bench --rerun-rollback [N] [M]  (default 200, 800)
//     Three quarters of the queues get a copy of their PPD by the scheduler
//     (QUEUE.ppd.O, made by `lpadmin -o`); then a first run, a second run and
//     `setup -r`, each checked. Exits 1 when a check fails.
//
// Every run is the real `./bin/setup -D 1` from the distribution tree. Its time
// and peak memory are taken inside the host by this program itself, started
// there as `queue_update_bench --measure COMMAND...`: the wall time of the
// command, and the high-water mark of its resident memory (VmHWM) read at its
// exit, through ptrace's exit stop. That is the memory of setup alone; the
// commands it runs (the scheduler's restart) are not counted.
//
// The queues are laid out the way the scheduler keeps them, while it is
// stopped: their PPDs in /etc/cups/ppd and their entries in printers.conf.
// The scheduler then loads them as it loads any queue, and `lpstat` must list
// them all, so ten thousand queues take seconds rather than minutes of lpadmin.
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

const char* const kPdls[] = {"PS", "PCL", "PXL"};
const std::string kBenchInHost = "/srv/bench/queue_update_bench";
const std::string kMeasured = "queue_update_bench measured: ";
const std::string kReport = "/var/log/mivo/Mivo4.0_UpdateReport.json";
const std::string kLog = "/var/log/Mivo4.0_UpdateLog";
const std::string kNothingChanged = "Nada cambi\xf3 en el sistema: CUPS no se reinicia.";  // ISO-8859-1, as logged
const SandboxRunOptions kFromDist = {
    .env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo", .timeout = std::chrono::seconds(3600)};

// ---- inside the host: one command, timed and its peak memory taken ----

long vmHwmKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  return 0;
}

// Runs argv traced only for its exit: at the exit stop its memory is still
// there to read. Other stops pass on the signal that caused them.
int measure(char** argv) {
  const auto started = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      std::perror("ptrace");
      ::_exit(126);
    }
    ::raise(SIGSTOP);
    ::execv(argv[0], argv);
    std::perror(argv[0]);
    ::_exit(127);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) return 126;
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL);
  long peakKb = 0;
  for (int deliver = 0;; deliver = 0) {
    ::ptrace(PTRACE_CONT, child, nullptr, deliver);
    if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) break;
    if (status >> 16 == PTRACE_EVENT_EXIT) peakKb = vmHwmKb(child);
    if (status >> 16 == 0) deliver = WSTOPSIG(status);
  }
  const std::chrono::duration<double> took = Clock::now() - started;
  std::fprintf(stderr, "\n%s%.6f s %ld kB\n", kMeasured.c_str(), took.count(), peakKb);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// ---- the machine side: laying out a host ----

std::vector<int> parseList(const char* text) {
  std::vector<int> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) values.push_back(std::stoi(item));
  return values;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The model names of the table, read from its data file.
std::vector<std::string> modelNames() {
  std::vector<std::string> names;
  std::istringstream rows(readFile(std::string(SOURCE_DIR) + "/data/models.tsv"));
  for (std::string row; std::getline(rows, row);)
    if (!row.empty() && row[0] != '#') names.push_back(row.substr(0, row.find('\t')));
  return names;
}

// A PPD of the template with its model and PDL replaced.
std::string ppdFor(const std::string& templateText, const std::string& model, const std::string& pdl) {
  return replaceAll(replaceAll(templateText, "Tamra Cendra 2100 PS", model + " " + pdl), "Tamra Cendra 2100", model);
}

struct Candidate {
  std::string model;
  std::string pdl;
};

// M (model, PDL) pairs that the distribution tree does not ship itself.
std::vector<Candidate> candidates(int m) {
  std::vector<Candidate> pairs;
  std::vector<std::string> names = modelNames();
  for (const char* pdl : kPdls) {
    for (const std::string& name : names) {
      if (name.rfind("Tamra Cendra 2100", 0) == 0 || name == "Tamra Lumo 4400" || name == "Tamra Brisk 1500") continue;
      if (static_cast<int>(pairs.size()) < m) pairs.push_back({name, pdl});
    }
  }
  if (static_cast<int>(pairs.size()) < m)
    throw std::runtime_error("the model table gives only " + std::to_string(pairs.size()) + " candidates");
  return pairs;
}

std::string queueName(int q) { return "Q" + std::to_string(10000 + q); }

// The candidate directory, the queue PPDs (one per queue, spread over the
// candidates) and the scheduler's entries for the queues.
void layOutTree(const std::string& root, const std::vector<Candidate>& pairs, int queues) {
  std::string newTemplate = readFile(std::string(SOURCE_DIR) + "/dist/ppd/tamra_cendra2100_ps.ppd");
  std::string oldTemplate = readFile(std::string(SOURCE_DIR) + "/tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
  fs::create_directories(root + "/candidates");
  fs::create_directories(root + "/queues");
  for (size_t i = 0; i < pairs.size(); ++i) {
    std::ofstream(root + "/candidates/c" + std::to_string(1000 + i) + ".ppd")
        << ppdFor(newTemplate, pairs[i].model, pairs[i].pdl);
  }
  std::ofstream conf(root + "/printers.conf");
  conf << "# Printer configuration file for CUPS\nNextPrinterId " << queues + 1 << "\n";
  for (int q = 0; q < queues; ++q) {
    const Candidate& pair = pairs[(static_cast<size_t>(q) * 7919) % pairs.size()];
    std::ofstream(root + "/queues/" + queueName(q) + ".ppd") << ppdFor(oldTemplate, pair.model, pair.pdl);
    conf << "<Printer " << queueName(q) << ">\nPrinterId " << q + 1 << "\nInfo " << queueName(q) << "\nMakeModel "
         << pair.model << " " << pair.pdl << ", Mivo 1.0\nDeviceURI socket://127.0.0.1:9100\nState Idle\n"
         << "Accepting Yes\nShared No\n</Printer>\n";
  }
}

SandboxResult shChecked(SandboxHost& host, const std::string& what, const std::string& script) {
  SandboxResult result = host.sh(script, {.timeout = std::chrono::seconds(3600)});
  if (result.status != 0) throw std::runtime_error(what + " failed: " + result.err);
  return result;
}

int queuesListed(SandboxHost& host) {
  return std::stoi(shChecked(host, "lpstat -p", "lpstat -p | grep -c '^printer ' || true").out);
}

// Waits until the scheduler answers: one started or restarted loads all its
// queues first, which takes minutes for ten thousand.
void waitForScheduler(SandboxHost& host) {
  shChecked(host, "wait for the scheduler", R"SH(i=0
until lpstat -r 2>/dev/null | grep -qx 'scheduler is running'; do
  i=$((i + 1)); [ $i -le 36000 ] || { echo "the scheduler does not answer" >&2; exit 1; }; sleep 0.1
done)SH");
}

// A host with the distribution tree, the candidates, this program, and n
// queues that a running scheduler has loaded (or, unloaded, only their PPDs).
void prepareHost(SandboxHost& host, int n, int m, bool loaded = true) {
  const auto started = Clock::now();
  std::string machineTree = fs::temp_directory_path() / ("queue-bench-" + std::to_string(::getpid()));
  fs::remove_all(machineTree);
  layOutTree(machineTree, candidates(m), n);
  // The sandbox starts the scheduler (its configuration made fit for tests) and
  // waits for it a few seconds only: it starts it while there are no queues yet.
  host.startCups();
  host.stopCups();
  host.copyIn(DIST_DIR, "/srv/mivo");
  host.copyIn(fs::read_symlink("/proc/self/exe"), kBenchInHost);
  host.copyIn(machineTree + "/candidates", "/usr/share/ppd/orv");
  host.copyIn(machineTree + "/queues", "/srv/queues");
  if (loaded) host.copyIn(machineTree + "/printers.conf", "/etc/cups/printers.conf");
  fs::remove_all(machineTree);
  shChecked(host, "lay out the queues", R"SH(set -e
gzip -9n /usr/share/ppd/orv/c*.ppd
find /srv/queues -name '*.ppd' -exec install -m 0640 -o root -g lp -t /etc/cups/ppd {} +
rm -rf /srv/queues
chown root:lp /etc/cups/printers.conf && chmod 0600 /etc/cups/printers.conf
/etc/init.d/cups start >/dev/null)SH");
  waitForScheduler(host);
  if (int listed = queuesListed(host); listed != (loaded ? n : 0))
    throw std::runtime_error("the scheduler lists " + std::to_string(listed) + " queues, not " + std::to_string(n));
  const std::chrono::duration<double> took = Clock::now() - started;
  std::printf("# host with %d queues and %d candidates ready in %.1f s\n", n, m, took.count());
  std::fflush(stdout);
}

// ---- runs and what they leave ----

struct Run {
  double seconds = 0;
  double peakMb = 0;
  double loopSeconds = -1;  // the update loop's own time, from the diagnostic line; -1 without one
  json report;
  std::string log;
};

Run runSetup(SandboxHost& host, std::vector<std::string> args) {
  args.insert(args.begin(), {kBenchInHost, "--measure", "./bin/setup", "-D", "1"});
  SandboxResult result = host.run(args, kFromDist);
  size_t at = result.err.rfind(kMeasured);
  if (result.status != 0 || at == std::string::npos)
    throw std::runtime_error("setup failed (exit " + std::to_string(result.status) + "): " + result.err);
  Run run;
  long peakKb = 0;
  std::sscanf(result.err.c_str() + at + kMeasured.size(), "%lf s %ld kB", &run.seconds, &peakKb);
  run.peakMb = peakKb / 1024.0;
  // "updateQueues: N queues in S s (placing P s); F candidate PPD files opened."
  if (size_t loop = result.err.find("updateQueues: "); loop != std::string::npos)
    std::sscanf(result.err.c_str() + loop, "updateQueues: %*d queues in %lf s", &run.loopSeconds);
  run.report = json::parse(host.read(kReport));
  run.log = host.read(kLog);
  return run;
}

int queueCount(const Run& run, const std::string& outcome) { return run.report["counts"]["queues"].value(outcome, -1); }

// The pid of the one running scheduler, once it answers.
std::string cupsdPid(SandboxHost& host) {
  waitForScheduler(host);
  return shChecked(host, "find the scheduler", R"SH(pids=$(pidof cupsd)
[ -n "$pids" ] && [ "$pids" = "${pids%% *}" ] || { echo "not one cupsd: '$pids'" >&2; exit 1; }
echo "$pids")SH")
      .out;
}

// Checks are counted, each printed with its verdict.
struct Checks {
  int failed = 0;
  void operator()(bool ok, const std::string& what) {
    std::printf("CHECK|%s|%s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failed;
  }
};

// Every file of the scheduler's PPD directory: name -> "inode|mtime|sha256".
std::map<std::string, std::string> ppdDirectory(SandboxHost& host) {
  std::istringstream lines(shChecked(host, "list /etc/cups/ppd", R"SH(cd /etc/cups/ppd
stat -c '%n|%i|%y' -- * | sort && sha256sum -- * | sort -k 2)SH")
                               .out);
  std::map<std::string, std::string> files;
  for (std::string line; std::getline(lines, line);) {
    if (size_t bar = line.find('|'); bar != std::string::npos) {
      files[line.substr(0, bar)] = line.substr(bar + 1);
    } else if (line.size() > 66) {
      files[line.substr(66)] += "|" + line.substr(0, 64);  // "HASH  NAME"
    }
  }
  return files;
}

std::string hashOf(const std::string& entry) { return entry.substr(entry.rfind('|') + 1); }

// ---- the two modes ----

struct Point {
  int n, m;
  Run first, rerun;
};

Point benchPoint(int n, int m, bool loaded, Checks& check) {
  SandboxHost host;
  prepareHost(host, n, m, loaded);
  Point point{n, m, runSetup(host, {}), {}};
  check(queueCount(point.first, "updated") == n, "first run " + std::to_string(n) + "x" + std::to_string(m) +
                                                     ": every queue updated");
  std::string pid = cupsdPid(host);
  point.rerun = runSetup(host, {});
  check(queueCount(point.rerun, "unchanged") == n && !point.rerun.report["changed"].get<bool>(),
        "re-run: every queue unchanged, nothing changed");
  check(cupsdPid(host) == pid, "re-run: the scheduler was not restarted");
  std::printf("FIGURES|%d|%d|%.3f|%.3f|%.1f|%.3f|%.3f|%.1f\n", n, m, point.first.seconds,
              1000 * point.first.seconds / n, point.first.peakMb, point.rerun.seconds, 1000 * point.rerun.seconds / n,
              point.rerun.peakMb);
  std::fflush(stdout);
  return point;
}

int figures(const std::vector<int>& ns, const std::vector<int>& ms, bool loaded) {
  std::printf("# FIGURES|N|M|first_s|first_per_queue_ms|first_peak_MB|rerun_s|rerun_per_queue_ms|rerun_peak_MB\n");
  Checks check;
  std::vector<Point> points;
  for (int m : ms)
    for (int n : ns) points.push_back(benchPoint(n, m, loaded, check));
  std::printf("\n%6s %6s | %9s %9s %9s %9s | %9s %9s %9s %9s\n", "N", "M", "first s", "ms/queue", "loop s", "peak MB",
              "rerun s", "ms/queue", "loop s", "peak MB");
  for (const Point& p : points) {
    std::printf("%6d %6d | %9.3f %9.3f %9.3f %9.1f | %9.3f %9.3f %9.3f %9.1f\n", p.n, p.m, p.first.seconds,
                1000 * p.first.seconds / p.n, p.first.loopSeconds, p.first.peakMb, p.rerun.seconds,
                1000 * p.rerun.seconds / p.n, p.rerun.loopSeconds, p.rerun.peakMb);
  }
  return check.failed == 0 ? 0 : 1;
}

int rerunRollback(int n, int m) {
  Checks check;
  SandboxHost host;
  prepareHost(host, n, m);
  // The scheduler keeps QUEUE.ppd.O itself when lpadmin -o changes a queue's PPD:
  // three queues of every four get one.
  int copies = 0;
  std::string script = "set -e\n";
  for (int q = 0; q < n; ++q, script += "\n") {
    if (q % 4 == 3) continue;
    script += "lpadmin -p " + queueName(q) + " -o PageSize=Letter";
    ++copies;
  }
  shChecked(host, "change the queues' defaults", script);
  const std::map<std::string, std::string> before = ppdDirectory(host);
  int copiesFound = 0;
  for (const auto& [name, entry] : before) copiesFound += name.ends_with(".ppd.O");
  check(copiesFound == copies, std::to_string(copiesFound) + " of " + std::to_string(n) + " queues have a .O copy, " +
                                   std::to_string(copies) + " expected");

  std::string pid = cupsdPid(host);
  Run first = runSetup(host, {});
  check(queueCount(first, "updated") == n, "first run: " + std::to_string(n) + " queues updated");
  check(cupsdPid(host) != pid, "first run: the scheduler was restarted");
  // The scheduler saves printers.conf some time after it re-read the moved
  // PPDs; restarted here, it saves it now, before the second run's window.
  shChecked(host, "restart the scheduler", "/etc/init.d/cups restart >/dev/null");
  waitForScheduler(host);
  std::string restarted = cupsdPid(host);

  Run second = runSetup(host, {});
  check(queueCount(second, "unchanged") == n, "second run: the report says " + std::to_string(n) + " queues unchanged");
  check(!second.report["changed"].get<bool>(), "second run: the report says nothing changed");
  check(cupsdPid(host) == restarted, "second run: the scheduler was not restarted (same pid)");
  check(second.log.find(kNothingChanged) != std::string::npos, "second run: the log says CUPS is not restarted");
  std::string changedThere;
  for (const SandboxChange& change : host.changed()) {
    if (change.path != kLog && !change.path.starts_with("/var/log/mivo/") && !change.path.starts_with("/var/lib/mivo/"))
      changedThere += " " + change.path;
  }
  check(changedThere.empty(), "second run: no file changed besides its log, report and record" + changedThere);

  Run rollback = runSetup(host, {"-r"});
  check(queueCount(rollback, "rolled-back") == n, "rollback: " + std::to_string(n) + " queues rolled back");
  const std::map<std::string, std::string> after = ppdDirectory(host);
  int restored = 0, copiesKept = 0;
  for (int q = 0; q < n; ++q) {
    auto was = before.find(queueName(q) + ".ppd"), is = after.find(queueName(q) + ".ppd");
    restored += was != before.end() && is != after.end() && hashOf(was->second) == hashOf(is->second);
  }
  for (const auto& [name, entry] : before) {
    auto is = after.find(name);
    copiesKept += name.ends_with(".ppd.O") && is != after.end() && is->second == entry;  // same inode, time and bytes
  }
  int copiesAfter = 0;
  for (const auto& [name, entry] : after) copiesAfter += name.ends_with(".ppd.O");
  check(restored == n, "rollback: " + std::to_string(restored) + " of " + std::to_string(n) +
                           " queues back on their original PPD bytes");
  check(copiesKept == copies && copiesAfter == copies,
        "the .O copies untouched: " + std::to_string(copiesKept) + " of " + std::to_string(copies) + " as they were, " +
            std::to_string(copiesAfter) + " in all");
  check(queuesListed(host) == n, "the scheduler still lists " + std::to_string(n) + " queues");

  std::printf("ROLLBACK|N|first_s|first_peak_MB|second_s|second_peak_MB|rollback_s|rollback_peak_MB|second/first\n");
  std::printf("ROLLBACK|%d|%.3f|%.1f|%.3f|%.1f|%.3f|%.1f|%.3f\n", n, first.seconds, first.peakMb, second.seconds,
              second.peakMb, rollback.seconds, rollback.peakMb, second.seconds / first.seconds);
  std::printf("\n%d queues (%d with a .O copy), %d candidates\n", n, copies, m);
  std::printf("  first run   %8.3f s  %8.3f ms/queue  peak %6.1f MB\n", first.seconds, 1000 * first.seconds / n,
              first.peakMb);
  std::printf("  second run  %8.3f s  %8.3f ms/queue  peak %6.1f MB\n", second.seconds, 1000 * second.seconds / n,
              second.peakMb);
  std::printf("  setup -r    %8.3f s  %8.3f ms/queue  peak %6.1f MB\n", rollback.seconds, 1000 * rollback.seconds / n,
              rollback.peakMb);
  std::printf("  second run / first run: %.3f\n", second.seconds / first.seconds);
  if (check.failed > 0) std::printf("%d check(s) FAILED\n", check.failed);
  return check.failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--measure") == 0) return measure(argv + 2);
  std::string why;
  if (!SandboxHost::available(&why)) {
    std::cerr << "no sandboxed host: " << why << "\n";
    return 1;
  }
  try {
    if (argc > 1 && std::strcmp(argv[1], "--rerun-rollback") == 0)
      return rerunRollback(argc > 2 ? std::stoi(argv[2]) : 200, argc > 3 ? std::stoi(argv[3]) : 800);
    const bool loaded = !(argc > 1 && std::strcmp(argv[1], "--unloaded") == 0);
    const int first = loaded ? 1 : 2;
    return figures(parseList(argc > first ? argv[first] : "200"), parseList(argc > first + 1 ? argv[first + 1] : "800"),
                   loaded);
  } catch (const std::exception& e) {
    std::cerr << "queue_update_bench: " << e.what() << "\n";
    return 1;
  }
}
