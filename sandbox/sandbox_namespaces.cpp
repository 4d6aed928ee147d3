// Namespaces and mounts: the host's layers and root, its init, and tearing it all down.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "sandbox/sandbox_internal.h"

namespace fs = std::filesystem;
using namespace sandbox_internal;

namespace {

constexpr const char* kReady = "READY";

// ---- building the root inside the namespaces (runs as the host's pid 1) ----

void mountOrThrow(const char* source, const std::string& target, const char* type, unsigned long flags,
                  const std::string& data = {}) {
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
  mountOrThrow("devpts", dev + "/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666,mode=0620,gid=5");
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
  mountOrThrow("overlay", merged, "overlay", 0, "lowerdir=/,upperdir=" + base + "/upper,workdir=" + base + "/work");
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

// ---- the layers on the machine ----

std::string makeTempDir() {
  std::string path = "/tmp/sandbox-host-XXXXXX";
  if (::mkdtemp(path.data()) == nullptr) throwErrno("mkdtemp");
  return path;
}

// Creates the layer directories; /tmp starts empty inside because the upper
// layer's /tmp is opaque (this also hides the layers themselves, which live in /tmp).
void prepareLayers(const std::string& base) {
  struct stat machineRoot {};
  if (::stat("/", &machineRoot) != 0) throwErrno("stat /");
  for (const char* dir : {"/upper", "/work", "/merged"}) makeDir(base + dir, 0755);
  makeDir(base + "/upper", machineRoot.st_mode & 07777);  // the merged root takes these attributes
  const std::string tmp = base + "/upper/tmp";
  makeDir(tmp, 01777);
  if (::setxattr(tmp.c_str(), "trusted.overlay.opaque", "y", 1, 0) != 0) throwErrno("mark " + tmp + " opaque");
}

// Unmounting the overlay inside the host frees its mount point at once; left
// to the end of the host's mount namespace, it is free only once the kernel has
// let go of the namespace, an event this process cannot wait for.
void detachOverlay(pid_t init, const std::string& merged) {
  Fd mountNs(::open(("/proc/" + std::to_string(init) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC));
  if (!mountNs) return;
  const pid_t child = ::fork();  // setns() into a mount namespace needs a process of one thread
  if (child == 0)
    ::_exit(::setns(mountNs.get(), CLONE_NEWNS) == 0 && ::umount2(merged.c_str(), MNT_DETACH) == 0 ? 0 : 1);
  while (child > 0 && ::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

// ---- SandboxHost ----

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
  if (initPid_ > 0) detachOverlay(initPid_, base_ + "/merged");
  stopInit();
  if (std::getenv("SANDBOX_KEEP") != nullptr) {
    std::cerr << "sandbox host kept: " << base_ << "\n";
    return;
  }
  std::error_code error;
  fs::remove_all(base_, error);
  if (error) std::cerr << "sandbox host: cannot remove " << base_ << ": " << error.message() << "\n";
}

bool SandboxHost::available(std::string* why) {
  static const std::pair<bool, std::string> verdict = []() -> std::pair<bool, std::string> {
    if (::geteuid() != 0)
      return {false,
              "sandboxed hosts need root (namespaces and overlay mounts); uid is " + std::to_string(::geteuid())};
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
  if (initPid_ > 0)
    ::kill(initPid_, SIGKILL);
  else if (helperPid_ > 0)
    ::kill(helperPid_, SIGKILL);
  if (helperPid_ > 0) {
    while (::waitpid(helperPid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  initPid_ = helperPid_ = -1;
}
