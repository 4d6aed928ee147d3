// A throwaway host for end-to-end tests: the machine's root file system seen
// through an overlay whose upper layer is private to one test, inside fresh
// mount, pid, net and uts namespaces. Nothing a test does inside reaches the
// machine, and everything started inside dies with the host object.
//
//   std::string why;
//   if (!SandboxHost::available(&why)) GTEST_SKIP() << why;
//   SandboxHost host;
//   host.copyIn(DIST_DIR, "/srv/mivo");
//   host.startCups();
//   auto r = host.run({"/srv/mivo/bin/setup", "-q1"}, {.input = "n\n", .env = {{"ZEBLPMODE", "CUPS"}}});
//   EXPECT_EQ(r.status, 0) << r.err;
//
// Needs root. Set SANDBOX_KEEP=1 to keep the layers (printed on destruction)
// for a look after a failure. One host must be used from one thread, the one
// that built it: its processes are tied to that thread's lifetime.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct SandboxRunOptions {
  std::string input{};                       // fed to standard input, which is then closed
  std::map<std::string, std::string> env{};  // the whole environment (PATH and HOME get defaults)
  std::optional<uid_t> uid{};                // run as this user; group = uid unless gid is set
  std::optional<gid_t> gid{};
  std::string cwd = "/";
  std::chrono::seconds timeout{120};  // past it the command is killed and run() throws
};

struct SandboxResult {
  int status = -1;     // exit code, or 128 + signal number when killed by a signal
  int waitStatus = 0;  // raw status from waitpid()
  std::string out;
  std::string err;
};

struct SandboxChange {
  enum class Kind { Created, Modified, Removed };
  std::string path;
  Kind kind;
  friend bool operator==(const SandboxChange&, const SandboxChange&) = default;
};
std::ostream& operator<<(std::ostream& os, const SandboxChange& change);

class SandboxHost {
 public:
  using RunOptions = SandboxRunOptions;
  using Result = SandboxResult;
  using Change = SandboxChange;

  SandboxHost();  // throws std::runtime_error when the host cannot be built
  ~SandboxHost();
  SandboxHost(const SandboxHost&) = delete;
  SandboxHost& operator=(const SandboxHost&) = delete;

  // Whether hosts can be built here (root, namespaces, overlay); the reason if not.
  static bool available(std::string* why = nullptr);

  // Layout, all in the host's own view. Parent directories are created as needed.
  void write(const std::string& path, const std::string& content, mode_t mode = 0644);
  void mkdir(const std::string& path, mode_t mode = 0755);
  void symlink(const std::string& target, const std::string& link);
  void hide(const std::string& path);  // removes a path; one the machine has becomes a whiteout
  void copyIn(const std::string& machinePath, const std::string& hostPath);
  std::string read(const std::string& path) const;  // throws if unreadable
  bool exists(const std::string& path) const;       // a dangling symlink exists too
  // Mounts a fresh tmpfs of that many bytes at path (created if missing), so that
  // writing past it fails with ENOSPC inside. What path held is copied in first,
  // owners and modes kept. Files on it are not in changed(), which sees only the
  // overlay's upper layer.
  void mountTmpfs(const std::string& path, size_t bytes);

  // Debian's cupsd, serving localhost:631 and /run/cups/cups.sock inside.
  void startCups();
  void stopCups();  // SIGTERM, then waits until it has exited
  bool cupsRunning() const;
  // Starts cupsd again when none runs inside, after a test or a program under
  // test stopped it; one that a program started by itself is left alone.
  void restartCupsIfDown();

  Result run(const std::vector<std::string>& argv, const RunOptions& options = {});
  Result sh(const std::string& script, const RunOptions& options = {});

  // What the last run() or sh() created, modified or removed, sorted by path;
  // /proc, /run, /dev and /sys are left out.
  const std::vector<Change>& changed() const { return changes_; }

  const std::string& upperDir() const { return upper_; }  // the host's upper layer on the machine
  pid_t initPid() const { return initPid_; }              // as the machine sees it

 private:
  struct Entry;
  using Snapshot = std::map<std::string, Entry>;

  Result exec(const std::vector<std::string>& argv, const RunOptions& options) const;
  Result execChecked(const std::string& what, const std::vector<std::string>& argv,
                     const RunOptions& options = {}) const;
  void launchInit();
  void stopInit();
  Snapshot snapshot() const;
  void scan(const std::string& relative, Snapshot& entries) const;
  std::vector<Change> diff(const Snapshot& before, const Snapshot& after) const;
  void prepareCupsConfig();

  std::string base_;  // temporary directory holding upper/, work/ and merged/
  std::string upper_;
  pid_t initPid_ = -1;
  pid_t helperPid_ = -1;
  std::optional<int> cupsPid_;  // as seen inside
  std::vector<Change> changes_;
};
