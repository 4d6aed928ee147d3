#include "fault_scenario.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kDist = "/srv/mivo";
const std::string kSaved = "/srv/fault/trees.tar";
const std::string kTokenPath = "/srv/fault/host-id";
constexpr int kNotThisHost = 99;
const std::string kLog = "/var/log/Mivo4.0_UpdateLog";
const std::string kBackupSuffix = ".rpmsave";  // /etc/cups/QUEUE.ppd.rpmsave keeps /etc/cups/ppd/QUEUE.ppd
const std::vector<std::string> kOldPpds = {"tamra_cendra2100_ps.ppd", "tamra_cendra2100duo_pcl.ppd",
                                           "tamra_lumo4400_ps.ppd"};

std::string machineFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Names of the program's temporary files: today's zebot/zebin/ZEB and the hidden .zebtmpXXXXXX.
bool isTemporaryName(const std::string& name) {
  return name != "zebgsfilter" && (::strncasecmp(name.c_str(), "zeb", 3) == 0 || ::strncasecmp(name.c_str(), ".zeb", 4) == 0);
}

// The hidden name a file gets beside its target until it is renamed into place.
bool isBesideTemporaryName(const std::string& name) {
  const std::string prefix = ".zebtmp";
  return name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
         std::all_of(name.begin() + prefix.size(), name.end(), [](unsigned char c) { return std::isalnum(c); });
}

// The uninstall script carries the time of its run on its third line.
std::string withoutRunDate(std::string text) {
  const std::string dated = "con fecha: ";
  size_t at = text.find(dated);
  if (at == std::string::npos) return text;
  at += dated.size();
  text.replace(at, text.find('\n', at) - at, "DATE");
  return text;
}

std::string fileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string sizeNote(const std::string& content) { return " (" + std::to_string(content.size()) + " bytes)"; }

const std::string* lookup(const FileMap& files, const std::string& path) {
  auto found = files.find(path);
  return found == files.end() ? nullptr : &found->second;
}

}  // namespace

std::string kindName(RunKind kind) { return kind == RunKind::Update ? "update" : "install"; }

std::string describe(const Verdict& verdict) {
  std::string text;
  for (const std::string& finding : verdict) text += "  " + finding + "\n";
  return text;
}

Fault faultOf(const std::string& tracerErr) {
  Fault fault;
  for (const char* start : {"fault_tracer: killing every process", "fault_tracer: failing call"}) {
    size_t at = tracerErr.find(start);
    if (at != std::string::npos) fault.line = tracerErr.substr(at, tracerErr.find('\n', at) - at);
  }
  fault.killed = fault.line.find("killing") != std::string::npos;
  // "... (unlinkat /tmp/ZEBabc123 in 42) with EIO"
  size_t call = fault.line.find('('), target = fault.line.find(' ', call), end = fault.line.rfind(" in ");
  if (call == std::string::npos || target == std::string::npos || end == std::string::npos || end < target)
    return fault;
  const std::string name = fault.line.substr(call + 1, target - call - 1);
  if (!fault.killed && (name == "unlink" || name == "unlinkat" || name == "rmdir"))
    fault.refusedRemoval = fileName(fault.line.substr(target + 1, end - target - 1));
  return fault;
}

Verdict judgeFaulted(const HostState& before, const HostState& after, const HostState& reference, const Fault& fault) {
  Verdict verdict;
  for (const auto& [path, old] : before.queuePpds) {
    const std::string* now = lookup(after.queuePpds, path);
    const std::string* fresh = lookup(reference.queuePpds, path);
    if (now == nullptr) {
      verdict.push_back("queue lost: " + path + " is gone");
    } else if (*now != old && (fresh == nullptr || *now != *fresh)) {
      verdict.push_back("queue lost: " + path + " is neither its old PPD nor its new one" + sizeNote(*now));
    }
    // A queue on its new PPD must have its old one kept.
    const std::string backup = "/etc/cups/" + fileName(path) + kBackupSuffix;
    if (now != nullptr && fresh != nullptr && *now == *fresh && *fresh != old && !after.backups.contains(backup))
      verdict.push_back("backup lost: " + path + " is on its new PPD but " + backup + " is missing");
  }
  for (const auto& [path, now] : after.queuePpds)
    if (!before.queuePpds.contains(path)) verdict.push_back("leftover: " + path + " is no queue's PPD");
  for (const auto& [path, now] : after.backups) {
    const std::string* was = lookup(before.backups, path);
    const std::string queuePpd = fileName(path.substr(0, path.size() - kBackupSuffix.size()));
    const std::string* old = lookup(before.queuePpds, "/etc/cups/ppd/" + queuePpd);
    if ((was == nullptr || *was != now) && (old == nullptr || *old != now))
      verdict.push_back("backup lost: " + path + " is not its queue's old PPD" + sizeNote(now));
  }
  std::set<std::string> known;
  for (const FileMap* files : {&before.product, &reference.product})
    for (const auto& [path, content] : *files) known.insert(path);
  for (const std::string& path : known) {
    const std::string* now = lookup(after.product, path);
    const std::string* old = lookup(before.product, path);
    const std::string* fresh = lookup(reference.product, path);
    if (now == nullptr) {
      if (old != nullptr) verdict.push_back("half-written: " + path + " is gone");
    } else if ((old == nullptr || *now != *old) && (fresh == nullptr || *now != *fresh)) {
      verdict.push_back("half-written: " + path + " is neither its old content nor its new one" + sizeNote(*now));
    }
  }
  for (const auto& [path, content] : after.product)
    if (!known.contains(path)) verdict.push_back("leftover: " + path + " is left by the run");
  std::set<std::string> earlier(before.temporaries.begin(), before.temporaries.end());
  for (const std::string& path : after.temporaries) {
    bool besidePpd = path.starts_with("/etc/cups/ppd/");
    bool allowed = (fault.killed && (!besidePpd || isBesideTemporaryName(fileName(path)))) ||
                   fileName(path) == fault.refusedRemoval;
    if (!earlier.contains(path) && !allowed) verdict.push_back("leftover: " + path + " is left by the run");
  }
  return verdict;
}

Verdict judgeRecovered(const HostState& after, const HostState& reference) {
  Verdict verdict;
  auto compare = [&](const FileMap& now, const FileMap& expected) {
    for (const auto& [path, content] : expected) {
      const std::string* got = lookup(now, path);
      if (got == nullptr)
        verdict.push_back("not recovered: " + path + " is missing");
      else if (*got != content)
        verdict.push_back("not recovered: " + path + " is not its new content" + sizeNote(*got));
    }
    for (const auto& [path, content] : now)
      if (!expected.contains(path)) verdict.push_back("leftover: " + path + " is left after a complete run");
  };
  compare(after.queuePpds, reference.queuePpds);
  compare(after.product, reference.product);
  for (const std::string& path : after.temporaries) verdict.push_back("leftover: " + path + " is left after a complete run");
  return verdict;
}

// ---- the host ----

FaultHost::FaultHost(RunKind kind)
    : host_(std::make_unique<SandboxHost>()),
      cpu_((kind == RunKind::Update ? 0 : 1) % std::max(1u, std::thread::hardware_concurrency())),
      token_(std::to_string(std::random_device{}()) + std::to_string(std::random_device{}())) {
  host_->write(kTokenPath, token_);
  host_->copyIn(DIST_DIR, kDist);
  host_->copyIn(FAULT_TRACER, kTracer);
  for (const std::string& ppd : kOldPpds) host_->write("/srv/old/" + ppd, machineFile(FIXTURES_DIR "/ppd-old/" + ppd));
  host_->startCups();
  // netcat writes the scheduler's answer in as many pieces as it arrives in,
  // which would shift every later call number from one run to the next; without
  // it the program asks cups-config, in one piece.
  host_->hide("/etc/alternatives/nc");
  if (kind == RunKind::Update) installOlderRelease();
  // Changed defaults make the carried-over ones visible in the new PPDs.
  createQueue("Office", "tamra_cendra2100_ps.ppd", "-o PageSize=Legal -o MediaType=Thick");
  createQueue("Lab", "tamra_cendra2100duo_pcl.ppd", "-o Duplex=DuplexTumble");
  createQueue("Hall", "tamra_lumo4400_ps.ppd", "");
}

// The product as this release installs it, then aged: two files of an older
// release, an older PPD kept by the installation, and a model it did not have.
void FaultHost::installOlderRelease() {
  SandboxResult install = runSetup();
  if (install.status != 0) throw std::runtime_error("the first installation failed: " + install.err);
  ppdDir_ = loggedPpdDir(*host_);
  if (ppdDir_.empty()) throw std::runtime_error("the first installation logged no PPD install directory");
  host_->write("/opt/orv/bin/zebgsfilter", "#!/bin/sh\n# filter of the older release\nexec cat\n", 0755);
  host_->write("/opt/orv/etc/mivo4.0.png", "icon of the older release\n", 0644);
  host_->write("/opt/orv/ppd/tamra_cendra2100_ps.ppd", machineFile(FIXTURES_DIR "/ppd-old/tamra_cendra2100_ps.ppd"));
  host_->hide(ppdDir_ + "/tamra_brisk1500_pxl.ppd");
}

void FaultHost::createQueue(const std::string& name, const std::string& oldPpd, const std::string& options) {
  shOrThrow("create the queue " + name,
            "lpadmin -p " + name + " -E -v socket://127.0.0.1:9100 -P /srv/old/" + oldPpd + " " + options);
}

// The host answers by its pid, and its layers are still there: the overlay
// keeps serving files whose upper layer was removed under it.
bool FaultHost::intact() const {
  std::ifstream token(hostPath(kTokenPath));
  std::string text;
  std::error_code error;
  return std::getline(token, text) && text == token_ && fs::exists(host_->upperDir() + kTokenPath, error);
}

// Every command runs behind a check that it is in this host: were the host's
// init gone and its pid taken by another process, the command would run in
// that process's namespaces instead. A host found broken afterwards is lost.
SandboxResult FaultHost::runGuarded(std::vector<std::string> argv, const SandboxRunOptions& options) {
  argv.insert(argv.begin(), {"/bin/sh", "-c",
                             "[ \"$(cat " + kTokenPath + " 2>/dev/null)\" = \"$1\" ] || exit " +
                                 std::to_string(kNotThisHost) + "; shift; exec \"$@\"",
                             "sh", token_});
  SandboxResult result = host_->run(argv, options);
  if (!intact()) throw HostLost();
  return result;
}

SandboxResult FaultHost::runSetup(const std::vector<std::string>& tracerArgs, const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  if (!tracerArgs.empty()) {
    // Tracer and traced on one processor stop and wake each other without
    // crossing processors, which halves the cost of tracing here; an update
    // and an installation checked side by side keep to different ones.
    // The scheduler that the run restarts lives on after it, untraced.
    argv = {"taskset", "-c", std::to_string(cpu_), kTracer, "--leave", "/usr/sbin/cupsd"};
    argv.insert(argv.end(), tracerArgs.begin(), tracerArgs.end());
    argv.push_back("--");
  }
  argv.push_back("./bin/setup");
  argv.insert(argv.end(), args.begin(), args.end());
  return runGuarded(argv, {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = kDist});
}

std::string FaultHost::hostPath(const std::string& path) const {
  return "/proc/" + std::to_string(host_->initPid()) + "/root" + path;
}

// Read from this side through the host's root: far quicker than a command per file.
HostState FaultHost::capture() const {
  if (!intact()) throw HostLost();
  HostState state;
  const std::string root = hostPath("");
  auto walk = [&](auto& self, const std::string& dir, bool recursive, auto&& take) -> void {
    std::error_code error;
    for (fs::directory_iterator it(root + dir, error), end; !error && it != end; it.increment(error)) {
      const std::string name = it->path().filename(), path = dir + "/" + name;
      const fs::file_status status = it->symlink_status();
      if (isTemporaryName(name)) {
        state.temporaries.push_back(path);
      } else if (fs::is_symlink(status)) {
        take(path, "-> " + fs::read_symlink(it->path(), error).string());
      } else if (fs::is_regular_file(status)) {
        take(path, withoutRunDate(machineFile(it->path())));
      } else if (fs::is_directory(status) && recursive) {
        self(self, path, true, take);
      }
    }
  };
  auto ignore = [](const std::string&, const std::string&) {};
  walk(walk, "/etc/cups", false, [&](const std::string& path, const std::string& content) {
    if (path.ends_with(kBackupSuffix)) state.backups[path] = content;
  });
  walk(walk, "/etc/cups/ppd", false,
       [&](const std::string& path, const std::string& content) { state.queuePpds[path] = content; });
  walk(walk, "/tmp", false, ignore);
  for (const std::string& dir : {std::string("/opt/orv"), ppdDir_})
    walk(walk, dir, true, [&](const std::string& path, const std::string& content) { state.product[path] = content; });
  std::sort(state.temporaries.begin(), state.temporaries.end());
  state.temporaries.erase(std::unique(state.temporaries.begin(), state.temporaries.end()), state.temporaries.end());
  if (!intact()) throw HostLost();
  return state;
}

std::string FaultHost::shOrThrow(const std::string& what, const std::string& script,
                                 const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/bin/sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  SandboxResult result = runGuarded(argv);
  if (result.status != 0)
    throw std::runtime_error("cannot " + what + " (exit " + std::to_string(result.status) + "): " + result.err);
  return result.out;
}

namespace {

// The trees a run may touch, relative to /; $1 is the PPD install directory.
const char* const kTrees = R"SH(etc/cups opt/orv "${1#/}" tmp usr/bin/zebgsfilter var/log/Mivo4.0_UpdateLog var/log/mivo var/lib/mivo)SH";

}  // namespace

void FaultHost::saveTrees() {
  if (ppdDir_.empty()) throw std::logic_error("no PPD install directory to save");
  shOrThrow("save the trees a run touches", std::string(R"SH(set -e
cd / && present=
for p in )SH") + kTrees + R"SH(; do if [ -e "$p" ] || [ -L "$p" ]; then present="$present $p"; fi; done
tar --numeric-owner -cpf )SH" + kSaved + " $present",
            {ppdDir_});
}

// Back to the saved trees, with the scheduler running as before the run.
void FaultHost::restore() {
  shOrThrow("restore the saved trees", std::string(R"SH(set -e
cd /
for d in "$1" /etc/cups/ppd /tmp; do if mountpoint -q "$d"; then umount "$d"; fi; done
rm -rf )SH") + kTrees + R"SH(
tar --numeric-owner -xpf )SH" + kSaved + R"SH(
pgrep -x cupsd >/dev/null || /etc/init.d/cups start </dev/null >/dev/null 2>&1)SH",
            {ppdDir_});
}

void FaultHost::mountSmallTmpfs(const std::string& dir, size_t spareBytes) {
  // What the directory holds takes whole pages of the tmpfs.
  const std::string used = shOrThrow("measure " + dir, R"SH(mkdir -p "$1"
find "$1" -type f -printf '%s\n' | awk '{ pages += int(($1 + 4095) / 4096) } END { print pages * 4096 }')SH",
                                     {dir});
  if (!intact()) throw HostLost();
  host_->mountTmpfs(dir, std::stoul(used) + spareBytes);
}

void FaultHost::lift(const std::string& dir) {
  shOrThrow("take the tmpfs from " + dir, R"SH(set -e
d=$1; lift=/srv/fault/lift
rm -rf $lift && mkdir -p $lift && cp -a "$d"/. $lift/
umount "$d" && find "$d" -mindepth 1 -delete && cp -a $lift/. "$d"/ && rm -rf $lift)SH",
            {dir});
}

std::string loggedPpdDir(SandboxHost& host) {
  const std::string key = "Dir de instalaci\xF3n PPD: ";
  const std::string log = host.read(kLog);
  size_t at = log.rfind(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return log.substr(at, log.find('\n', at) - at);
}

namespace {

struct ListedCall {
  long index;
  std::string call, target;
};

// "fault_tracer: #12 4711 write /opt/orv/etc/x" -> {12, "write", "/opt/orv/etc/x"}
std::vector<ListedCall> listedCalls(const std::string& err) {
  std::vector<ListedCall> calls;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("fault_tracer: #")) continue;
    std::istringstream fields(line.substr(15));
    ListedCall call;
    std::string pid;
    fields >> call.index >> pid >> call.call;
    std::getline(fields >> std::ws, call.target);
    calls.push_back(call);
  }
  return calls;
}

bool changesContent(const std::string& call) {
  static const std::set<std::string> writes = {"write",     "writev",          "pwrite64", "pwritev", "pwritev2",
                                               "ftruncate", "copy_file_range", "sendfile", "fallocate"};
  return writes.contains(call);
}

}  // namespace

std::vector<std::string> unflushedRenames(const std::string& tracerErr, int& renames) {
  std::map<std::string, long> lastWrite, lastFsync;
  std::vector<long> syncs;
  std::vector<std::pair<long, std::string>> placed;  // rename index, final path
  std::vector<std::string> faults;
  auto syncedBetween = [&](long after, long before) {
    return std::any_of(syncs.begin(), syncs.end(), [&](long at) { return at > after && at < before; });
  };
  renames = 0;
  for (const ListedCall& call : listedCalls(tracerErr)) {
    if (changesContent(call.call)) lastWrite[call.target] = call.index;
    if (call.call == "fsync" || call.call == "fdatasync") lastFsync[call.target] = call.index;
    if (call.call == "syncfs" || call.call == "sync") syncs.push_back(call.index);
    if (!call.call.starts_with("rename") && !call.call.starts_with("link")) continue;
    size_t arrow = call.target.find(" -> ");
    std::string from = call.target.substr(0, arrow), to = call.target.substr(arrow + 4);
    if (arrow == std::string::npos || !isBesideTemporaryName(from.substr(from.rfind('/') + 1))) continue;
    ++renames;
    long written = lastWrite.contains(from) ? lastWrite[from] : 0;
    bool flushed = (lastFsync.contains(from) && lastFsync[from] > written) || syncedBetween(written, call.index);
    if (!flushed) faults.push_back(to + ": put in place from " + from + " before its content was flushed");
    placed.emplace_back(call.index, to);
  }
  for (const auto& [at, to] : placed) {
    std::string dir = to.substr(0, to.rfind('/'));
    bool flushed = (lastFsync.contains(dir) && lastFsync[dir] > at) || syncedBetween(at, LONG_MAX);
    if (!flushed) faults.push_back(to + ": its directory was not flushed after it was put in place");
  }
  return faults;
}

long tracedCalls(const std::string& err) {
  const std::string key = "fault_tracer: calls=";
  size_t at = err.rfind(key);
  return at == std::string::npos ? -1 : std::stol(err.substr(at + key.size()));
}
