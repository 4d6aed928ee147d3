// Hosts for the fault-injection checks: a host laid out for an update or a new
// installation with three product queues on older PPDs, the files a run may
// touch read back in one go, and the judgement of a faulted run against the
// state before it and the state a fault-free run leaves.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

enum class RunKind { Update, Install };
std::string kindName(RunKind kind);

// path -> content; a symbolic link's content is "-> target".
using FileMap = std::map<std::string, std::string>;

// What a run of the program may change, as read from the host.
struct HostState {
  FileMap queuePpds;                     // every entry of /etc/cups/ppd but temporaries
  FileMap backups;                       // /etc/cups/*.rpmsave
  FileMap product;                       // files and links under /opt/orv and the PPD install directory
  std::vector<std::string> temporaries;  // names the program writes before renaming, or leaves by mistake
};

// Findings about runs, each "KIND: the path and what is wrong", KIND one of
// kFindingKinds: a queue PPD neither its old bytes nor the whole new ones; a
// backup that is not the queue's old PPD, or missing for a moved queue; a
// product file neither old, new nor rightly absent; temporaries, or files no
// run should leave; after the fault-free run, what is not the reference state.
using Verdict = std::vector<std::string>;
inline const std::vector<std::string> kFindingKinds = {"queue lost", "backup lost", "half-written", "leftover",
                                                       "not recovered"};
std::string describe(const Verdict& verdict);

// The fault a traced run went through, from the tracer's standard error.
struct Fault {
  std::string line;  // the tracer's line naming the call, empty without a fault
  bool killed = false;
  std::string refusedRemoval;  // the name a failed unlink or rmdir was to remove: it may stay
};
Fault faultOf(const std::string& tracerErr);

// After a faulted run: every file is whole, either as before or as the reference run left it.
Verdict judgeFaulted(const HostState& before, const HostState& after, const HostState& reference, const Fault& fault);
// After the fault-free run that follows: the reference state, with nothing left behind.
Verdict judgeRecovered(const HostState& after, const HostState& reference);

// The host's init is gone: its pid no longer leads into the host.
struct HostLost : std::runtime_error {
  HostLost() : std::runtime_error("the sandboxed host is gone") {}
};

// A host laid out for one kind of run, with the tracer at kTracer.
class FaultHost {
 public:
  static inline const std::string kTracer = "/srv/fault/fault_tracer";

  // An update's host learns its PPD install directory from the installation
  // it ages; a new installation's must be told (setPpdDir) before capture().
  explicit FaultHost(RunKind kind);
  SandboxHost& host() { return *host_; }
  const std::string& ppdDir() const { return ppdDir_; }
  void setPpdDir(const std::string& dir) { ppdDir_ = dir; }

  // ./bin/setup from the distribution tree, under the tracer when tracerArgs is not empty.
  SandboxResult runSetup(const std::vector<std::string>& tracerArgs = {}, const std::vector<std::string>& args = {});
  HostState capture() const;

  // Saves the trees a run touches, so that restore() can put them back.
  void saveTrees();
  void restore();

  // Puts a tmpfs of the directory's present content plus spareBytes under it; lift() takes it away, content kept.
  void mountSmallTmpfs(const std::string& dir, size_t spareBytes);
  void lift(const std::string& dir);

 private:
  void installOlderRelease();
  void createQueue(const std::string& name, const std::string& oldPpd, const std::string& options);
  bool intact() const;
  SandboxResult runGuarded(std::vector<std::string> argv, const SandboxRunOptions& options = {});
  std::string shOrThrow(const std::string& what, const std::string& script, const std::vector<std::string>& args = {});
  std::string hostPath(const std::string& path) const;

  std::unique_ptr<SandboxHost> host_;
  unsigned cpu_;       // where a traced run goes
  std::string token_;  // written into the host, to know it again
  std::string ppdDir_;
};

// The PPD install directory a run logged, from the host's run log; empty if none.
std::string loggedPpdDir(SandboxHost& host);

// From the tracer's --list lines: every file renamed or linked into place from
// one of the program's temporaries that was not flushed (fsync, or a syncfs)
// after its last write, or whose directory was not flushed after the rename.
// Also counts the renames it looked at.
std::vector<std::string> unflushedRenames(const std::string& tracerErr, int& renames);

// The call count the tracer printed, or -1.
long tracedCalls(const std::string& err);
