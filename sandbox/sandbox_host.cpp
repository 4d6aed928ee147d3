#include "sandbox_host.h"

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char* kNsenter = "/usr/bin/nsenter";
constexpr const char* kReady = "READY";
constexpr const char* kDefaultPath = "/usr/sbin:/usr/bin:/sbin:/bin";
constexpr auto kDrainAfterExit = 2s;  // daemons started by a command may keep its pipes open

[[noreturn]] void throwError(const std::string& what) {
    throw std::runtime_error("sandbox host: " + what);
}

[[noreturn]] void throwErrno(const std::string& what) {
    throwError(what + ": " + std::strerror(errno));
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwErrno("pipe");
    return {Fd(fds[0]), Fd(fds[1])};
}

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::string readAll(int fd) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return data;
        data.append(buffer, static_cast<size_t>(n));
    }
}

// Children of a test process must not hold its other descriptors (pipes of
// other hosts would never see end of file).
void closeDescriptorsExcept(std::vector<int> keep) {
    keep.push_back(STDERR_FILENO);
    std::sort(keep.begin(), keep.end());
    unsigned first = STDERR_FILENO + 1;
    for (int fd : keep) {
        if (fd < static_cast<int>(first)) continue;
        if (static_cast<unsigned>(fd) > first) ::close_range(first, static_cast<unsigned>(fd) - 1, 0);
        first = static_cast<unsigned>(fd) + 1;
    }
    ::close_range(first, ~0U, 0);
}

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

// ---- building the root inside the namespaces (runs as the host's pid 1) ----

void mountOrThrow(const char* source, const std::string& target, const char* type,
                  unsigned long flags, const std::string& data = {}) {
    if (::mount(source, target.c_str(), type, flags, data.empty() ? nullptr : data.c_str()) != 0)
        throwErrno(std::string("mount ") + (type ? type : "bind") + " on " + target);
}

void makeDir(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) throwErrno("mkdir " + path);
    ::chmod(path.c_str(), mode);
}

void makeSymlink(const std::string& target, const std::string& link) {
    if (::symlink(target.c_str(), link.c_str()) != 0) throwErrno("symlink " + link);
}

void bindDevice(const std::string& dev, const std::string& name) {
    const std::string machineNode = "/dev/" + name;
    if (::access(machineNode.c_str(), F_OK) != 0) return;
    const std::string node = dev + "/" + name;
    Fd placeholder(::open(node.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
    if (!placeholder) throwErrno("create " + node);
    mountOrThrow(machineNode.c_str(), node, nullptr, MS_BIND);
}

// A small /dev of its own: the machine's /dev would let the host create files there.
void populateDev(const std::string& dev) {
    mountOrThrow("tmpfs", dev, "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755");
    for (const char* name : {"null", "zero", "full", "random", "urandom", "tty"}) bindDevice(dev, name);
    makeDir(dev + "/pts", 0755);
    mountOrThrow("devpts", dev + "/pts", "devpts", MS_NOSUID | MS_NOEXEC,
                 "newinstance,ptmxmode=0666,mode=0620,gid=5");
    makeSymlink("pts/ptmx", dev + "/ptmx");
    makeDir(dev + "/shm", 01777);
    mountOrThrow("tmpfs", dev + "/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777");
    makeSymlink("/proc/self/fd", dev + "/fd");
    makeSymlink("/proc/self/fd/0", dev + "/stdin");
    makeSymlink("/proc/self/fd/1", dev + "/stdout");
    makeSymlink("/proc/self/fd/2", dev + "/stderr");
}

void bringLoopbackUp() {
    Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock) throwErrno("socket");
    ifreq request{};
    const std::string name = "lo";
    std::copy(name.begin(), name.end(), request.ifr_name);
    if (::ioctl(sock.get(), SIOCGIFFLAGS, &request) != 0) throwErrno("read flags of lo");
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    if (::ioctl(sock.get(), SIOCSIFFLAGS, &request) != 0) throwErrno("bring lo up");
}

void buildRoot(const std::string& base) {
    // Nothing mounted from here on may propagate back to the machine.
    mountOrThrow(nullptr, "/", nullptr, MS_REC | MS_PRIVATE);
    const std::string merged = base + "/merged";
    mountOrThrow("overlay", merged, "overlay", 0,
                 "lowerdir=/,upperdir=" + base + "/upper,workdir=" + base + "/work");
    mountOrThrow("proc", merged + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC);
    mountOrThrow("sysfs", merged + "/sys", "sysfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC);
    populateDev(merged + "/dev");
    // The machine's /run holds unix sockets (a real scheduler's among them)
    // that are reachable from any network namespace.
    mountOrThrow("tmpfs", merged + "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755");
    makeDir(merged + "/run/lock", 01777);
    if (::chroot(merged.c_str()) != 0) throwErrno("chroot");
    if (::chdir("/") != 0) throwErrno("chdir");
    const std::string hostname = "sandbox";
    if (::sethostname(hostname.data(), hostname.size()) != 0) throwErrno("sethostname");
    bringLoopbackUp();
}

[[noreturn]] void reapForever(const sigset_t& childSignal) {
    for (;;) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        siginfo_t info;
        ::sigwaitinfo(&childSignal, &info);
    }
}

[[noreturn]] void runInit(const std::string& base, int statusFd) {
    sigset_t childSignal;
    ::sigemptyset(&childSignal);
    ::sigaddset(&childSignal, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &childSignal, nullptr);  // taken with sigwaitinfo, never lost
    std::string message = kReady;
    try {
        buildRoot(base);
    } catch (const std::exception& e) {
        message = e.what();
    }
    writeAll(statusFd, message);
    ::close(statusFd);
    if (message != kReady) ::_exit(1);
    reapForever(childSignal);
}

// Runs in a child of the test process: enters new namespaces and forks the
// host's pid 1, whose machine-side pid goes back through pidFd.
[[noreturn]] void runHelper(const std::string& base, int pidFd, int statusFd, pid_t testPid) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != testPid) ::_exit(1);
    closeDescriptorsExcept({pidFd, statusFd});
    if (::unshare(CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWUTS) != 0) {
        writeAll(statusFd, std::string("unshare: ") + std::strerror(errno));
        ::_exit(1);
    }
    const pid_t init = ::fork();
    if (init == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(pidFd);
        runInit(base, statusFd);
    }
    if (init < 0) writeAll(statusFd, std::string("fork: ") + std::strerror(errno));
    ::close(statusFd);
    writeAll(pidFd, std::to_string(init));
    ::close(pidFd);
    while (init > 0 && ::waitpid(init, nullptr, 0) < 0 && errno == EINTR) {
    }
    ::_exit(0);
}

// ---- running a process and collecting its output ----

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

[[noreturn]] void execChild(std::vector<std::string> argv, std::vector<std::string> env,
                            int in, int out, int err) {
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
    ProcessRun(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::string input)
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
        throwError("timed out after " + std::to_string(timeout.count()) + " s and was killed: " +
                   joined(argv_) + "\n--- stdout ---\n" + result_.out + "\n--- stderr ---\n" + result_.err);
    }

    std::vector<std::string> argv_;
    std::string input_;
    size_t written_ = 0;
    pid_t pid_ = -1;
    Fd pidFd_, stdin_, stdout_, stderr_;
    bool exited_ = false;
    SandboxResult result_;
};

SandboxResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input, std::chrono::seconds timeout) {
    ProcessRun process(argv, env, input);
    return process.wait(timeout);
}

std::vector<std::string> environmentFor(const SandboxRunOptions& options) {
    std::map<std::string, std::string> env = options.env;
    env.try_emplace("PATH", kDefaultPath);
    env.try_emplace("HOME", "/root");
    std::vector<std::string> list;
    for (const auto& [name, value] : env) list.push_back(name + "=" + value);
    return list;
}

std::string octal(mode_t mode) {
    std::ostringstream text;
    text << std::oct << (mode & 07777);
    return text.str();
}

std::string makeTempDir() {
    std::string path = "/tmp/sandbox-host-XXXXXX";
    if (::mkdtemp(path.data()) == nullptr) throwErrno("mkdtemp");
    return path;
}

// Creates the layer directories; /tmp starts empty inside because the upper
// layer's /tmp is opaque (this also hides the layers themselves, which live in /tmp).
void prepareLayers(const std::string& base) {
    struct stat machineRoot{};
    if (::stat("/", &machineRoot) != 0) throwErrno("stat /");
    for (const char* dir : {"/upper", "/work", "/merged"}) makeDir(base + dir, 0755);
    makeDir(base + "/upper", machineRoot.st_mode & 07777);  // the merged root takes these attributes
    const std::string tmp = base + "/upper/tmp";
    makeDir(tmp, 01777);
    if (::setxattr(tmp.c_str(), "trusted.overlay.opaque", "y", 1, 0) != 0)
        throwErrno("mark " + tmp + " opaque");
}

bool isExcluded(const std::string& path) {
    for (const std::string top : {"/proc", "/run", "/dev", "/sys"}) {
        if (path == top || path.starts_with(top + "/")) return true;
    }
    return false;
}

}  // namespace

// ---- SandboxHost ----

struct SandboxHost::Entry {
    struct stat info {};
    bool opaque = false;

    bool whiteout() const { return S_ISCHR(info.st_mode) && info.st_rdev == makedev(0, 0); }
    bool directory() const { return S_ISDIR(info.st_mode); }
};

std::ostream& operator<<(std::ostream& os, const SandboxChange& change) {
    switch (change.kind) {
        case SandboxChange::Kind::Created: os << "created "; break;
        case SandboxChange::Kind::Modified: os << "modified "; break;
        case SandboxChange::Kind::Removed: os << "removed "; break;
    }
    return os << change.path;
}

SandboxHost::SandboxHost() : base_(makeTempDir()), upper_(base_ + "/upper") {
    try {
        prepareLayers(base_);
        launchInit();
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
        throw;
    }
}

SandboxHost::~SandboxHost() {
    stopInit();
    if (std::getenv("SANDBOX_KEEP") != nullptr) {
        std::cerr << "sandbox host kept: " << base_ << "\n";
        return;
    }
    // The host's mounts go away with its mount namespace, which the kernel
    // may release a moment after the last process inside has died; until
    // then the overlay's mount point is busy.
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::error_code error;
        fs::remove_all(base_, error);
        if (!error) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool SandboxHost::available(std::string* why) {
    static const std::pair<bool, std::string> verdict = []() -> std::pair<bool, std::string> {
        if (::geteuid() != 0)
            return {false, "sandboxed hosts need root (namespaces and overlay mounts); uid is " +
                               std::to_string(::geteuid())};
        if (::access(kNsenter, X_OK) != 0) return {false, std::string(kNsenter) + " is missing (util-linux)"};
        try {
            SandboxHost probe;
            const auto result = probe.exec({"true"}, {});
            if (result.status != 0) return {false, "a command inside a sandboxed host failed: " + result.err};
        } catch (const std::exception& e) {
            return {false, e.what()};
        }
        return {true, ""};
    }();
    if (why != nullptr) *why = verdict.second;
    return verdict.first;
}

void SandboxHost::launchInit() {
    Pipe pidPipe = makePipe();
    Pipe statusPipe = makePipe();
    const pid_t self = ::getpid();
    helperPid_ = ::fork();
    if (helperPid_ < 0) throwErrno("fork");
    if (helperPid_ == 0) runHelper(base_, pidPipe.write.get(), statusPipe.write.get(), self);
    pidPipe.write.reset();
    statusPipe.write.reset();
    const std::string pidText = readAll(pidPipe.read.get());
    const std::string status = readAll(statusPipe.read.get());
    if (!pidText.empty() && pidText != "-1") initPid_ = std::stoi(pidText);
    if (status != kReady) {
        stopInit();
        throwError("cannot build the host: " + (status.empty() ? "its init died" : status));
    }
}

// Killing the namespace's pid 1 ends every process inside; its mounts go with the namespace.
void SandboxHost::stopInit() {
    if (initPid_ > 0) ::kill(initPid_, SIGKILL);
    else if (helperPid_ > 0) ::kill(helperPid_, SIGKILL);
    if (helperPid_ > 0) {
        while (::waitpid(helperPid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    initPid_ = helperPid_ = -1;
}

SandboxHost::Result SandboxHost::exec(const std::vector<std::string>& argv,
                                      const RunOptions& options) const {
    if (argv.empty()) throwError("empty command");
    std::vector<std::string> command = {kNsenter, "-t", std::to_string(initPid_), "-m", "-p", "-n", "-u",
                                        "-r", "-w", "--"};
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
    if (result.status != 0)
        throwError("cannot " + what + " (exit " + std::to_string(result.status) + "): " + result.err);
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

// ---- layout ----

void SandboxHost::write(const std::string& path, const std::string& content, mode_t mode) {
    execChecked("write " + path,
                {"/bin/sh", "-c", R"SH(umask 022; mkdir -p -- "$(dirname -- "$1")" && cat > "$1" && chmod "$2" -- "$1")SH",
                 "sh", path, octal(mode)},
                {.input = content});
}

void SandboxHost::mkdir(const std::string& path, mode_t mode) {
    execChecked("make directory " + path,
                {"/bin/sh", "-c", R"SH(umask 022; mkdir -p -- "$1" && chmod "$2" -- "$1")SH", "sh", path, octal(mode)});
}

void SandboxHost::symlink(const std::string& target, const std::string& link) {
    execChecked("make symlink " + link, {"/bin/sh", "-c", R"SH(umask 022
if [ -e "$2" ] && [ ! -L "$2" ]; then echo "$2 exists and is no symlink" >&2; exit 1; fi
mkdir -p -- "$(dirname -- "$2")" && ln -sfn -- "$1" "$2")SH",
                                         "sh", target, link});
}

// Removing through the overlay is what leaves whiteouts for the machine's
// paths; writing whiteouts into the upper layer directly would not be seen
// by an overlay that has already looked the path up.
void SandboxHost::hide(const std::string& path) {
    execChecked("hide " + path, {"/bin/rm", "-rf", "--", path});
}

void SandboxHost::copyIn(const std::string& machinePath, const std::string& hostPath) {
    struct stat info{};
    if (::stat(machinePath.c_str(), &info) != 0) throwErrno("copy in " + machinePath);
    if (!S_ISDIR(info.st_mode)) {
        std::ifstream file(machinePath, std::ios::binary);
        const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (!file.good() && !file.eof()) throwError("cannot read " + machinePath);
        write(hostPath, content, info.st_mode);
        return;
    }
    // The source may lie where the host cannot see it (/tmp, another mount), so it travels as a tar stream.
    const auto archive = runProcess({"/bin/tar", "-C", machinePath, "--numeric-owner", "-cf", "-", "."},
                                    {std::string("PATH=") + kDefaultPath, "LC_ALL=C"}, "", 300s);
    if (archive.status != 0) throwError("cannot archive " + machinePath + ": " + archive.err);
    execChecked("copy " + machinePath + " to " + hostPath,
                {"/bin/sh", "-c", R"SH(mkdir -p -- "$1" && tar -C "$1" --numeric-owner -xpf -)SH", "sh", hostPath},
                {.input = archive.out, .timeout = 300s});
}

std::string SandboxHost::read(const std::string& path) const {
    return execChecked("read " + path, {"/bin/cat", "--", path}).out;
}

bool SandboxHost::exists(const std::string& path) const {
    return exec({"/bin/sh", "-c", R"SH(test -e "$1" || test -L "$1")SH", "sh", path}, {}).status == 0;
}

// ---- the scheduler ----

void SandboxHost::prepareCupsConfig() {
    execChecked("prepare cupsd.conf", {"/bin/sh", "-c", R"SH(f=/etc/cups/cupsd.conf
[ -f "$f" ] || { echo "the host has no $f" >&2; exit 1; }
if grep -q '^[[:space:]]*DirtyCleanInterval' "$f"; then
  sed -i 's/^[[:space:]]*DirtyCleanInterval.*/DirtyCleanInterval 0/' "$f"
else
  printf '\n# Write state files at once, so tests see them after each request\nDirtyCleanInterval 0\n' >> "$f"
fi)SH"});
}

void SandboxHost::startCups() {
    if (cupsRunning()) return;
    prepareCupsConfig();
    // setsid from a background job execs in place, so $! is cupsd's own pid.
    const auto started = execChecked(
        "start cupsd", {"/bin/sh", "-c", "setsid /usr/sbin/cupsd -f </dev/null >/run/cupsd.out 2>&1 & echo $!"});
    cupsPid_ = std::stoi(started.out);
    const auto ready = exec({"/bin/bash", "-c", R"SH(
for i in $(seq 1 1000); do
  # Until the background job has exec'd, the pid names a shell; only a gone or dead process is an exit.
  state=$(awk '{print $3}' /proc/$1/stat 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ] || { echo "cupsd exited" >&2; exit 1; }
  if [ -S /run/cups/cups.sock ] &&
     { printf 'HEAD / HTTP/1.0\r\n\r\n' >&3; IFS= read -r -t 5 line <&3; } 2>/dev/null 3<>/dev/tcp/127.0.0.1/631 &&
     [[ $line == HTTP/* ]]; then
    exit 0
  fi
  sleep 0.01
done
echo "cupsd did not answer on localhost:631" >&2; exit 1)SH",
                             "bash", std::to_string(*cupsPid_)},
                            {});
    if (ready.status == 0) return;
    const auto log = exec({"/bin/sh", "-c", "cat /run/cupsd.out; tail -n 20 /var/log/cups/error_log"}, {});
    stopCups();
    throwError("cupsd did not start: " + ready.err + log.out);
}

bool SandboxHost::cupsRunning() const {
    if (!cupsPid_) return false;
    return exec({"/bin/sh", "-c", R"SH([ "$(cat /proc/$1/comm 2>/dev/null)" = cupsd ])SH", "sh",
                 std::to_string(*cupsPid_)},
                {})
               .status == 0;
}

void SandboxHost::stopCups() {
    if (!cupsPid_) return;
    const auto pid = std::to_string(*cupsPid_);
    cupsPid_.reset();
    execChecked("stop cupsd", {"/bin/sh", "-c", R"SH(kill -TERM "$1" 2>/dev/null || exit 0
i=0
while [ "$(cat /proc/$1/comm 2>/dev/null)" = cupsd ]; do
  i=$((i + 1))
  if [ $i -gt 1000 ]; then kill -KILL "$1"; echo "cupsd ignored SIGTERM for 10 s" >&2; exit 1; fi
  sleep 0.01
done)SH",
                               "sh", pid});
}

// ---- what a command changed ----

// Walks one directory at a time, so that a directory vanishing under a
// running scheduler costs only its own entries, not the rest of the walk.
void SandboxHost::scan(const std::string& relative, Snapshot& entries) const {
    std::error_code error;
    for (fs::directory_iterator it(upper_ + relative, error), end; !error && it != end; it.increment(error)) {
        const std::string path = relative + "/" + it->path().filename().string();
        if (isExcluded(path)) continue;
        Entry entry;
        if (::lstat(it->path().c_str(), &entry.info) != 0) continue;  // gone meanwhile
        char flag = 0;
        entry.opaque = entry.directory() &&
                       ::lgetxattr(it->path().c_str(), "trusted.overlay.opaque", &flag, 1) == 1 && flag == 'y';
        entries.emplace(path, entry);
        if (entry.directory()) scan(path, entries);
    }
}

SandboxHost::Snapshot SandboxHost::snapshot() const {
    Snapshot entries;
    scan("", entries);
    return entries;
}

namespace {

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameAttributes(const struct stat& a, const struct stat& b) {
    return a.st_mode == b.st_mode && a.st_uid == b.st_uid && a.st_gid == b.st_gid;
}

// Directories count as changed by their attributes only: their times move
// whenever an entry inside does, which is reported on its own.
bool sameContent(const struct stat& a, const struct stat& b) {
    if (!sameAttributes(a, b)) return false;
    if (S_ISDIR(a.st_mode)) return true;
    return a.st_size == b.st_size && sameTime(a.st_mtim, b.st_mtim) && a.st_rdev == b.st_rdev;
}

}  // namespace

std::vector<SandboxChange> SandboxHost::diff(const Snapshot& before, const Snapshot& after) const {
    // The machine's copy of a path shows through unless an ancestor is a whiteout or opaque.
    const auto machineHas = [&](const std::string& path, struct stat* info) {
        for (auto parent = fs::path(path).parent_path(); parent != parent.root_path(); parent = parent.parent_path()) {
            const auto found = after.find(parent.string());
            if (found != after.end() && (found->second.opaque || found->second.whiteout())) return false;
        }
        return ::lstat(path.c_str(), info) == 0;
    };
    std::vector<Change> changes;
    const auto note = [&](const std::string& path, Change::Kind kind) { changes.push_back({path, kind}); };
    for (const auto& [path, now] : after) {
        const auto old = before.find(path);
        if (old == before.end()) {
            struct stat machine{};
            if (now.whiteout()) note(path, Change::Kind::Removed);
            else if (!machineHas(path, &machine)) note(path, Change::Kind::Created);
            else if (!sameContent(now.info, machine)) note(path, Change::Kind::Modified);
        } else if (now.whiteout() != old->second.whiteout()) {
            note(path, now.whiteout() ? Change::Kind::Removed : Change::Kind::Created);
        } else if (!sameContent(now.info, old->second.info) || now.info.st_ino != old->second.info.st_ino ||
                   now.opaque != old->second.opaque) {
            note(path, Change::Kind::Modified);
        }
    }
    for (const auto& [path, old] : before) {
        if (!old.whiteout() && !after.contains(path)) note(path, Change::Kind::Removed);
    }
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) { return a.path < b.path; });
    return changes;
}
