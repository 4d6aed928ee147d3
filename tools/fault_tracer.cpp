// Runs a command under ptrace, following its whole process tree, and numbers
// the tree's write-like system calls in one global order. It can fail the Nth
// of them with an error instead of running it, or kill the whole tree at it.
//
//   fault_tracer [--list] [--leave PROGRAM]... --count -- CMD...
//   fault_tracer [--list] [--leave PROGRAM]... --fail N --errno ENOSPC|EIO -- CMD...
//   fault_tracer [--list] [--leave PROGRAM]... --kill N -- CMD...
//
// With --reads-under DIR (repeatable) the calls numbered are instead the
// command's own reads of files below those directories.
//
// --list names each write-like call on stderr: its number, process, call and
// the file it works on ("fault_tracer: #12 4711 write /opt/orv/etc/x").
//
// A process that execs a --leave program (a daemon the command restarts) is let
// go at that exec: neither it nor its children are counted, failed, killed or
// waited for, so the numbering does not depend on what a daemon does meanwhile.
// Ends with "fault_tracer: calls=N" on stderr (with --fail or --kill, counting
// stops at N); exits with the command's status.
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr unsigned kAuditArchX86_64 = 0xC000003E;
constexpr long kFchmodat2 = 452;  // newer than these headers

enum class Mode { Count, Fail, Kill };

struct Options {
  Mode mode = Mode::Count;
  long target = 0;  // 1-based number of the call to fail or kill at
  int error = 0;
  bool list = false;  // name every write-like call on stderr as it comes
  std::vector<std::string> leave;
  std::vector<std::string> readsUnder;
  std::vector<char*> command;
};

// The calls that may change a file, by number; the opens only when their flags say so.
const std::map<long, const char*>& writeLikeCalls() {
  static const std::map<long, const char*> calls = {
      {SYS_write, "write"}, {SYS_writev, "writev"}, {SYS_pwrite64, "pwrite64"}, {SYS_pwritev, "pwritev"},
      {SYS_pwritev2, "pwritev2"}, {SYS_sendfile, "sendfile"}, {SYS_copy_file_range, "copy_file_range"},
      {SYS_fallocate, "fallocate"}, {SYS_ftruncate, "ftruncate"}, {SYS_truncate, "truncate"}, {SYS_fsync, "fsync"},
      {SYS_fdatasync, "fdatasync"}, {SYS_syncfs, "syncfs"}, {SYS_sync, "sync"}, {SYS_rename, "rename"},
      {SYS_renameat, "renameat"}, {SYS_renameat2, "renameat2"}, {SYS_link, "link"}, {SYS_linkat, "linkat"},
      {SYS_symlink, "symlink"}, {SYS_symlinkat, "symlinkat"}, {SYS_unlink, "unlink"}, {SYS_unlinkat, "unlinkat"},
      {SYS_mkdir, "mkdir"}, {SYS_mkdirat, "mkdirat"}, {SYS_rmdir, "rmdir"}, {SYS_chmod, "chmod"},
      {SYS_fchmod, "fchmod"}, {SYS_fchmodat, "fchmodat"}, {kFchmodat2, "fchmodat2"}, {SYS_chown, "chown"},
      {SYS_fchown, "fchown"}, {SYS_fchownat, "fchownat"}, {SYS_lchown, "lchown"}, {SYS_creat, "creat"},
      {SYS_open, "open"}, {SYS_openat, "openat"}, {SYS_openat2, "openat2"},
  };
  return calls;
}

bool opensForWriting(unsigned long flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

// The flags of openat2's struct open_how, its first member, read from the tracee.
unsigned long openHowFlags(pid_t pid, unsigned long address) {
  errno = 0;
  long word = ptrace(PTRACE_PEEKDATA, pid, address, nullptr);
  return errno == 0 ? static_cast<unsigned long>(word) : 0;
}

// The name of a write-like call at this entry, or nullptr for any other call.
const char* writeLikeName(pid_t pid, const __ptrace_syscall_info& info) {
  if (info.arch != kAuditArchX86_64) return nullptr;
  auto found = writeLikeCalls().find(static_cast<long>(info.entry.nr));
  if (found == writeLikeCalls().end()) return nullptr;
  const auto* args = info.entry.args;
  switch (info.entry.nr) {
    case SYS_open: return opensForWriting(args[1]) ? found->second : nullptr;
    case SYS_openat: return opensForWriting(args[2]) ? found->second : nullptr;
    case SYS_openat2: return opensForWriting(openHowFlags(pid, args[2])) ? found->second : nullptr;
    default: return found->second;
  }
}

// A NUL-terminated string of the tracee, cut at 255 bytes.
std::string tracedString(pid_t pid, unsigned long address) {
  char buffer[256] = {};
  iovec local{buffer, sizeof buffer - 1}, remote{reinterpret_cast<void*>(address), sizeof buffer - 1};
  if (::process_vm_readv(pid, &local, 1, &remote, 1, 0) < 0) return "?";
  return buffer;
}

std::string descriptorPath(pid_t pid, unsigned long fd) {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
  return error ? "fd " + std::to_string(fd) : path.string();
}

// A path argument of an *at call, made absolute from its directory descriptor.
std::string atPath(pid_t pid, unsigned long dirFd, unsigned long address) {
  std::string name = tracedString(pid, address);
  if (name.starts_with('/')) return name;
  if (static_cast<int>(dirFd) != AT_FDCWD) return descriptorPath(pid, dirFd) + "/" + name;
  std::error_code error;
  auto cwd = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error);
  return (error ? std::string("?") : cwd.string()) + "/" + name;
}

// The file a write-like call works on, for --list: a path argument or the descriptor's file.
std::string callTarget(pid_t pid, const __ptrace_syscall_info& info) {
  const auto* args = info.entry.args;
  switch (info.entry.nr) {
    case SYS_open:
    case SYS_creat:
    case SYS_truncate:
    case SYS_unlink:
    case SYS_mkdir:
    case SYS_rmdir:
    case SYS_chmod:
    case SYS_chown:
    case SYS_lchown: return tracedString(pid, args[0]);
    case SYS_openat:
    case SYS_openat2:
    case SYS_unlinkat:
    case SYS_mkdirat:
    case SYS_fchmodat:
    case SYS_fchownat:
    case kFchmodat2: return atPath(pid, args[0], args[1]);
    case SYS_rename:
    case SYS_link:
    case SYS_symlink: return tracedString(pid, args[0]) + " -> " + tracedString(pid, args[1]);
    case SYS_renameat:
    case SYS_renameat2:
    case SYS_linkat: return atPath(pid, args[0], args[1]) + " -> " + atPath(pid, args[2], args[3]);
    case SYS_symlinkat: return tracedString(pid, args[0]) + " -> " + atPath(pid, args[1], args[2]);
    case SYS_sendfile:
    case SYS_copy_file_range: return descriptorPath(pid, info.entry.nr == SYS_sendfile ? args[0] : args[2]);
    case SYS_sync: return "";
    default: return descriptorPath(pid, args[0]);
  }
}

[[noreturn]] void usage(const char* why) {
  std::fprintf(
      stderr,
      "fault_tracer: %s\nusage: fault_tracer [--list] [--leave PROGRAM]... (--count | --fail N --errno ENOSPC|EIO"
      " | --kill N) -- CMD...\n",
      why);
  std::exit(2);
}

long positiveNumber(const char* text) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < 1) usage("the call number must be 1 or more");
  return value;
}

Options parseOptions(int argc, char** argv) {
  Options options;
  int i = 1;
  auto next = [&]() -> char* { return i + 1 < argc ? argv[++i] : (usage("an option lacks its value"), nullptr); };
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    std::string option = argv[i];
    if (option == "--count") {
      options.mode = Mode::Count;
    } else if (option == "--fail") {
      options.mode = Mode::Fail, options.target = positiveNumber(next());
    } else if (option == "--kill") {
      options.mode = Mode::Kill, options.target = positiveNumber(next());
    } else if (option == "--errno") {
      std::string name = next();
      options.error = name == "ENOSPC" ? ENOSPC : name == "EIO" ? EIO : (usage("unknown errno"), 0);
    } else if (option == "--list") {
      options.list = true;
    } else if (option == "--reads-under") {
      options.readsUnder.push_back(next());
    } else if (option == "--leave") {
      options.leave.push_back(std::filesystem::weakly_canonical(next()));
    } else {
      usage(("unknown option " + option).c_str());
    }
  }
  if (i + 1 >= argc) usage("no command");
  if (options.mode == Mode::Fail && options.error == 0) usage("--fail needs --errno");
  options.command.assign(argv + i + 1, argv + argc);
  options.command.push_back(nullptr);
  return options;
}

int exitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

class Tracer {
 public:
  explicit Tracer(Options options) : options_(std::move(options)) {}

  int run() {
    start();
    while (!tracees_.empty()) step();
    std::fprintf(stderr, "fault_tracer: calls=%ld\n", calls_);
    if (options_.mode != Mode::Count && calls_ < options_.target)
      std::fprintf(stderr, "fault_tracer: call %ld never came\n", options_.target);
    return exitCode(rootStatus_);
  }

 private:
  // The child stops itself before its exec, so that it is seized before it runs anything.
  void start() {
    root_ = ::fork();
    if (root_ < 0) {
      std::perror("fault_tracer: fork");
      std::exit(2);
    }
    if (root_ == 0) {
      ::raise(SIGSTOP);
      ::execvp(options_.command[0], options_.command.data());
      std::fprintf(stderr, "fault_tracer: cannot run %s: %s\n", options_.command[0], std::strerror(errno));
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(root_, &status, WSTOPPED);
    long flags = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE |
                 PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
    if (::ptrace(PTRACE_SEIZE, root_, nullptr, flags) != 0) {
      std::perror("fault_tracer: seize");
      std::exit(2);
    }
    tracees_.insert(root_);
    ::kill(root_, SIGCONT);
  }

  void step() {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, __WALL);
    if (pid < 0) {
      if (errno == EINTR) return;
      tracees_.clear();  // nothing left to wait for
      return;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (pid == root_) rootStatus_ = status;
      tracees_.erase(pid);
      faults_.erase(pid);
      return;
    }
    tracees_.insert(pid);  // a new child may stop before its parent's fork event
    if (killing_) return killAll();
    int signal = WSTOPSIG(status);
    unsigned event = static_cast<unsigned>(status) >> 16;
    if (signal == (SIGTRAP | 0x80)) return onSyscallStop(pid);
    if (event == PTRACE_EVENT_STOP) return onEventStop(pid, signal);
    if (event == PTRACE_EVENT_EXEC) return onExec(pid);
    resume(pid, event == 0 ? signal : 0);  // fork, vfork and clone events carry no signal
  }

  // Past the target call only a failed call's exit needs a stop; the rest runs at full speed.
  void resume(pid_t pid, int signal = 0) {
    bool stops = options_.mode == Mode::Count || options_.list || calls_ < options_.target || faults_.contains(pid);
    ::ptrace(stops ? PTRACE_SYSCALL : PTRACE_CONT, pid, nullptr, signal);
  }

  // A group stop stays a stop (job control works as without us); any other
  // event stop is a new child's first stop or an interrupt.
  void onEventStop(pid_t pid, int signal) {
    if (signal == SIGSTOP || signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU) {
      ::ptrace(PTRACE_LISTEN, pid, nullptr, 0);
    } else {
      resume(pid);
    }
  }

  void onExec(pid_t pid) {
    unsigned long formerId = 0;
    ::ptrace(PTRACE_GETEVENTMSG, pid, nullptr, &formerId);
    if (static_cast<pid_t>(formerId) != pid) tracees_.erase(static_cast<pid_t>(formerId));  // a thread's exec
    std::error_code error;
    std::string program = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    for (const std::string& leave : options_.leave) {
      if (program == leave) {
        ::ptrace(PTRACE_DETACH, pid, nullptr, 0);
        tracees_.erase(pid);
        return;
      }
    }
    resume(pid);
  }

  void onSyscallStop(pid_t pid) {
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) return resume(pid);
    if (info.op == PTRACE_SYSCALL_INFO_EXIT) return finishFault(pid);
    if (info.op != PTRACE_SYSCALL_INFO_ENTRY) return resume(pid);
    const char* name = options_.readsUnder.empty() ? writeLikeName(pid, info) : readUnder(pid, info);
    if (name == nullptr) return resume(pid);
    ++calls_;
    if (options_.list)
      std::fprintf(stderr, "fault_tracer: #%ld %d %s %s\n", calls_, pid, name, callTarget(pid, info).c_str());
    if (calls_ != options_.target || options_.mode == Mode::Count) return resume(pid);
    if (options_.mode == Mode::Kill) {
      std::fprintf(stderr, "fault_tracer: killing every process at call %ld (%s %s in %d)\n", calls_, name,
                   callTarget(pid, info).c_str(), pid);
      killing_ = true;
      return killAll();
    }
    std::fprintf(stderr, "fault_tracer: failing call %ld (%s %s in %d) with %s\n", calls_, name,
                 callTarget(pid, info).c_str(), pid, strerrorname_np(options_.error));
    skipCall(pid);
  }

  // A read of the command itself from a file below one of the --reads-under directories.
  const char* readUnder(pid_t pid, const __ptrace_syscall_info& info) const {
    static const std::map<long, const char*> reads = {
        {SYS_read, "read"}, {SYS_pread64, "pread64"}, {SYS_readv, "readv"}, {SYS_preadv, "preadv"}};
    auto found = reads.find(static_cast<long>(info.entry.nr));
    if (pid != root_ || found == reads.end()) return nullptr;
    std::string path = descriptorPath(pid, info.entry.args[0]);
    for (const std::string& dir : options_.readsUnder)
      if (path.starts_with(dir + "/")) return found->second;
    return nullptr;
  }

  // The call number becomes -1, which the kernel skips; its exit stop sets the error.
  void skipCall(pid_t pid) {
    user_regs_struct regs{};
    ::ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
    regs.orig_rax = static_cast<unsigned long long>(-1);
    ::ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
    faults_[pid] = options_.error;
    resume(pid);
  }

  void finishFault(pid_t pid) {
    auto fault = faults_.find(pid);
    if (fault != faults_.end()) {
      user_regs_struct regs{};
      ::ptrace(PTRACE_GETREGS, pid, nullptr, &regs);
      regs.rax = static_cast<unsigned long long>(-static_cast<long long>(fault->second));
      ::ptrace(PTRACE_SETREGS, pid, nullptr, &regs);
      faults_.erase(fault);
    }
    resume(pid);
  }

  // Whoever is running dies before its next call runs: the call's entry
  // stops for us, and nobody is resumed any more.
  void killAll() {
    for (pid_t pid : tracees_) ::kill(pid, SIGKILL);
  }

  Options options_;
  pid_t root_ = -1;
  int rootStatus_ = 0;
  std::set<pid_t> tracees_;
  std::map<pid_t, int> faults_;  // errors to return at the exit of a skipped call
  long calls_ = 0;
  bool killing_ = false;
};

}  // namespace

int main(int argc, char** argv) { return Tracer(parseOptions(argc, argv)).run(); }
