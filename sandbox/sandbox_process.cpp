// Running commands: a process with its input, output and timeout, and commands inside the host.
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "sandbox/sandbox_internal.h"

using namespace sandbox_internal;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr auto kDrainAfterExit = 2s;  // daemons started by a command may keep its pipes open

// Writes to a stdin pipe whose reader is gone must fail with EPIPE, not kill the test.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    ::sigemptyset(&pipeSignal_);
    ::sigaddset(&pipeSignal_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
  }
  ~SigpipeBlock() {
    const timespec now{};
    while (::sigtimedwait(&pipeSignal_, nullptr, &now) == SIGPIPE) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipeSignal_;
  sigset_t previous_;
};

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string joined(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return text;
}

[[noreturn]] void execChild(std::vector<std::string> argv, std::vector<std::string> env, int in, int out, int err) {
  ::setpgid(0, 0);
  ::dup2(in, STDIN_FILENO);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(err, STDERR_FILENO);
  closeDescriptorsExcept({});
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::signal(SIGPIPE, SIG_DFL);
  auto args = cStrings(argv);
  auto envp = cStrings(env);
  ::execve(args[0], args.data(), envp.data());
  const std::string message = "cannot run " + argv[0] + ": " + std::strerror(errno) + "\n";
  writeAll(STDERR_FILENO, message);
  ::_exit(127);
}

int exitCode(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

class ProcessRun {
 public:
  ProcessRun(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string input)
      : argv_(argv), input_(std::move(input)) {
    Pipe in = makePipe(), out = makePipe(), err = makePipe();
    pid_ = ::fork();
    if (pid_ < 0) throwErrno("fork");
    if (pid_ == 0) execChild(argv, env, in.read.get(), out.write.get(), err.write.get());
    ::setpgid(pid_, pid_);  // the child does it too; whichever comes first wins the race
    pidFd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    stdin_ = std::move(in.write);
    stdout_ = std::move(out.read);
    stderr_ = std::move(err.read);
    for (int fd : {stdin_.get(), stdout_.get(), stderr_.get()}) setNonBlocking(fd);
    if (input_.empty()) stdin_.reset();
  }
  ProcessRun(const ProcessRun&) = delete;
  ProcessRun& operator=(const ProcessRun&) = delete;
  ~ProcessRun() {
    if (!exited_) killGroup();
  }

  SandboxResult wait(std::chrono::seconds timeout) {
    const SigpipeBlock sigpipeBlock;
    const auto deadline = Clock::now() + timeout;
    auto drainUntil = Clock::time_point::max();
    while (!(exited_ && !stdout_ && !stderr_) && Clock::now() < drainUntil) {
      if (!exited_ && Clock::now() >= deadline) timeOut(timeout);
      pollOnce(std::min(deadline, drainUntil));
      if (!exited_ && reap(WNOHANG)) drainUntil = Clock::now() + kDrainAfterExit;
    }
    return result_;
  }

 private:
  void pollOnce(Clock::time_point until) {
    std::vector<pollfd> fds;
    if (stdin_) fds.push_back({stdin_.get(), POLLOUT, 0});
    if (stdout_) fds.push_back({stdout_.get(), POLLIN, 0});
    if (stderr_) fds.push_back({stderr_.get(), POLLIN, 0});
    if (!exited_ && pidFd_) fds.push_back({pidFd_.get(), POLLIN, 0});
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    // Without a pidfd, look at the child now and then.
    const auto wait = pidFd_ ? left : std::min<std::chrono::milliseconds>(left, 20ms);
    ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, wait.count())));
    feedInput();
    collect(stdout_, result_.out);
    collect(stderr_, result_.err);
  }

  void feedInput() {
    while (stdin_ && written_ < input_.size()) {
      const ssize_t n = ::write(stdin_.get(), input_.data() + written_, input_.size() - written_);
      if (n < 0 && errno == EAGAIN) return;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the command closed its input
      written_ += static_cast<size_t>(n);
    }
    stdin_.reset();
  }

  static void collect(Fd& fd, std::string& sink) {
    char buffer[65536];
    while (fd) {
      const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n > 0) {
        sink.append(buffer, static_cast<size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        if (n == 0 || errno != EAGAIN) fd.reset();
        return;
      }
    }
  }

  bool reap(int flags) {
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid_, &status, flags);
    } while (got < 0 && errno == EINTR);
    if (got != pid_) return false;
    exited_ = true;
    result_.waitStatus = status;
    result_.status = exitCode(status);
    return true;
  }

  void killGroup() {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    reap(0);
  }

  [[noreturn]] void timeOut(std::chrono::seconds timeout) {
    killGroup();
    throwError("timed out after " + std::to_string(timeout.count()) + " s and was killed: " + joined(argv_) +
               "\n--- stdout ---\n" + result_.out + "\n--- stderr ---\n" + result_.err);
  }

  std::vector<std::string> argv_;
  std::string input_;
  size_t written_ = 0;
  pid_t pid_ = -1;
  Fd pidFd_, stdin_, stdout_, stderr_;
  bool exited_ = false;
  SandboxResult result_;
};

std::vector<std::string> environmentFor(const SandboxRunOptions& options) {
  std::map<std::string, std::string> env = options.env;
  env.try_emplace("PATH", kDefaultPath);
  env.try_emplace("HOME", "/root");
  std::vector<std::string> list;
  for (const auto& [name, value] : env) list.push_back(name + "=" + value);
  return list;
}

}  // namespace

SandboxResult sandbox_internal::runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                                           const std::string& input, std::chrono::seconds timeout) {
  ProcessRun process(argv, env, input);
  return process.wait(timeout);
}

SandboxHost::Result SandboxHost::exec(const std::vector<std::string>& argv, const RunOptions& options) const {
  if (argv.empty()) throwError("empty command");
  std::vector<std::string> command = {kNsenter, "-t", std::to_string(initPid_), "-m", "-p", "-n", "-u", "-r",
                                      "-w",     "--"};
  if (options.uid) {
    const auto uid = std::to_string(*options.uid);
    const auto gid = std::to_string(options.gid.value_or(*options.uid));
    command.insert(command.end(), {"setpriv", "--reuid=" + uid, "--regid=" + gid, "--clear-groups", "--"});
  }
  if (options.cwd != "/") command.insert(command.end(), {"env", "-C", options.cwd, "--"});
  command.insert(command.end(), argv.begin(), argv.end());
  return runProcess(command, environmentFor(options), options.input, options.timeout);
}

SandboxHost::Result SandboxHost::execChecked(const std::string& what, const std::vector<std::string>& argv,
                                             const RunOptions& options) const {
  auto result = exec(argv, options);
  if (result.status != 0) throwError("cannot " + what + " (exit " + std::to_string(result.status) + "): " + result.err);
  return result;
}

SandboxHost::Result SandboxHost::run(const std::vector<std::string>& argv, const RunOptions& options) {
  const Snapshot before = snapshot();
  changes_.clear();
  auto result = exec(argv, options);
  changes_ = diff(before, snapshot());
  return result;
}

SandboxHost::Result SandboxHost::sh(const std::string& script, const RunOptions& options) {
  return run({"/bin/sh", "-c", script}, options);
}
