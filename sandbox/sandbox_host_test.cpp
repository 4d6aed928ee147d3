#include "sandbox/sandbox_host.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = SandboxChange::Kind;

namespace {

class SandboxHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!SandboxHost::available(&why)) GTEST_SKIP() << "no sandboxed host: " << why;
    host = std::make_unique<SandboxHost>();
  }

  std::unique_ptr<SandboxHost> host;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The machine-side pids of the processes whose parent is the host's init.
std::vector<pid_t> childrenOfInit(const SandboxHost& host) {
  const std::string init = std::to_string(host.initPid());
  std::istringstream list(slurp("/proc/" + init + "/task/" + init + "/children"));
  return {std::istream_iterator<pid_t>(list), std::istream_iterator<pid_t>()};
}

// The pid a process has in the innermost of its pid namespaces.
std::string innermostPid(pid_t pid) {
  std::istringstream status(slurp("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("NSpid:")) return line.substr(line.find_last_of(" \t") + 1);
  }
  return {};
}

// A pidfd reads as ready once its process has exited.
class ProcessWatch {
 public:
  explicit ProcessWatch(pid_t pid) : fd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;
  ~ProcessWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool watching() const { return fd_ >= 0; }
  bool exited() const {
    pollfd ready{fd_, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
  }

 private:
  int fd_;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(SandboxHostTest, KeepsTheMachineApart) {
  ASSERT_TRUE(fs::exists("/etc/debian_version"));
  ASSERT_TRUE(host->exists("/etc/debian_version"));
  host->hide("/etc/debian_version");
  EXPECT_FALSE(host->exists("/etc/debian_version"));
  EXPECT_NE(host->sh("cat /etc/debian_version").status, 0);
  EXPECT_TRUE(fs::exists("/etc/debian_version"));

  const std::string probe = "/etc/sandbox-probe-" + std::to_string(::getpid());
  host->write(probe, "inside\n", 0600);
  EXPECT_EQ(host->sh("echo more >> " + probe + " && stat -c %a " + probe).out, "600\n");
  EXPECT_EQ(host->read(probe), "inside\nmore\n");
  EXPECT_FALSE(fs::exists(probe));

  // The machine's /tmp holds at least this host's own layers.
  EXPECT_EQ(host->sh("ls -A /tmp").out, "");
  EXPECT_EQ(host->sh("stat -f -c %T /run").out, "tmpfs\n");
  EXPECT_FALSE(contains(slurp("/proc/self/mountinfo"), host->upperDir()));
}

TEST_F(SandboxHostTest, LaysOutFilesLinksAndCopiedTrees) {
  host->mkdir("/usr/share/ppd/orv", 0750);
  EXPECT_EQ(host->sh("stat -c %a /usr/share/ppd/orv").out, "750\n");
  host->hide("/usr/share/cups/model");
  host->symlink("/usr/share/ppd", "/usr/share/cups/model");
  EXPECT_EQ(host->sh("readlink /usr/share/cups/model; stat -c %a /usr/share/cups/model/orv").out,
            "/usr/share/ppd\n750\n");

  // A tree under the machine's /tmp, which the host cannot see by itself.
  const fs::path tree = host->upperDir() + "-tree";
  fs::create_directories(tree / "bin");
  std::ofstream(tree / "bin" / "tool") << "#!/bin/sh\necho tool ran\n";
  fs::permissions(tree / "bin" / "tool", fs::perms(0755));
  fs::create_symlink("bin/tool", tree / "link");
  host->copyIn(tree, "/srv/mivo");
  fs::remove_all(tree);
  EXPECT_EQ(host->sh("/srv/mivo/link; readlink /srv/mivo/link").out, "tool ran\nbin/tool\n");
}

TEST_F(SandboxHostTest, RunsCommandsWithGivenInputEnvironmentAndUser) {
  auto result = host->run({"cat"}, {.input = "a\nb\n"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "a\nb\n");

  result = host->run({"env"}, {.env = {{"ZEBLPMODE", "CUPS"}}});
  EXPECT_EQ(result.out, "HOME=/root\nPATH=/usr/sbin:/usr/bin:/sbin:/bin\nZEBLPMODE=CUPS\n");

  result = host->sh("id -u; id -G; pwd", {.uid = 1000, .cwd = "/tmp"});
  EXPECT_EQ(result.out, "1000\n1000\n/tmp\n") << result.err;

  result = host->sh("echo oops >&2; exit 3");
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "oops\n");

  result = host->sh("kill -TERM $$");
  EXPECT_TRUE(WIFSIGNALED(result.waitStatus));
  EXPECT_EQ(result.status, 128 + SIGTERM);
}

// A command that never ends: run() returns only if the timeout kills it.
TEST_F(SandboxHostTest, KillsACommandThatOutlivesItsTimeout) {
  EXPECT_THROW(host->run({"sleep", "infinity"}, {.timeout = 1s}), std::runtime_error);
}

TEST_F(SandboxHostTest, EndsEverythingInsideAndRemovesItsLayers) {
  // Once the shell has exited, the daemon it left behind is a child of the host's init.
  const auto started = host->sh("setsid sleep 3600 >/dev/null 2>&1 & echo $!");
  ASSERT_EQ(started.status, 0) << started.err;
  const std::vector<pid_t> children = childrenOfInit(*host);
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(innermostPid(children[0]) + "\n", started.out);
  const ProcessWatch daemon(children[0]);
  ASSERT_TRUE(daemon.watching());
  EXPECT_FALSE(daemon.exited());

  const std::string upper = host->upperDir();
  host.reset();
  EXPECT_TRUE(daemon.exited());
  if (std::getenv("SANDBOX_KEEP") == nullptr) {
    EXPECT_FALSE(fs::exists(upper));
  }
}

TEST_F(SandboxHostTest, ReportsWhatTheLastCommandChanged) {
  ASSERT_TRUE(fs::exists("/etc/issue"));
  host->write("/etc/mivo/old.conf", "old\n");
  host->sh(
      "mkdir -p /opt/mivo && echo new > /opt/mivo/new && echo more >> /etc/issue && "
      "rm /etc/mivo/old.conf /etc/debian_version");
  const std::vector<SandboxChange> expected = {{"/etc/debian_version", Kind::Removed},
                                               {"/etc/issue", Kind::Modified},
                                               {"/etc/mivo/old.conf", Kind::Removed},
                                               {"/opt/mivo", Kind::Created},
                                               {"/opt/mivo/new", Kind::Created}};
  EXPECT_EQ(host->changed(), expected);

  host->sh("cat /etc/issue /opt/mivo/new > /dev/null");
  EXPECT_EQ(host->changed(), std::vector<SandboxChange>{});
}

TEST_F(SandboxHostTest, SchedulerKeepsQueuesAcrossARestart) {
  host->startCups();
  const auto head = host->run({"bash", "-c",
                               "exec 3<>/dev/tcp/localhost/631; printf 'HEAD / HTTP/1.1\\r\\nHost: localhost\\r\\n"
                               "Connection: close\\r\\n\\r\\n' >&3; cat <&3"});
  EXPECT_TRUE(contains(head.out, "Server: CUPS/")) << head.out << head.err;

  auto result = host->sh("lpadmin -p Q -E -v file:///dev/null -m drv:///sample.drv/generic.ppd");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(contains(host->sh("lpstat -p").out, "printer Q "));
  EXPECT_TRUE(contains(host->sh("lpoptions -p Q -l").out, "PageSize/"));
  EXPECT_TRUE(contains(host->read("/etc/cups/printers.conf"), "<Printer Q>"));
  EXPECT_FALSE(fs::exists("/etc/cups/printers.conf") && contains(slurp("/etc/cups/printers.conf"), "<Printer Q>"));

  host->stopCups();
  EXPECT_FALSE(host->cupsRunning());
  EXPECT_NE(host->sh("lpstat -p").status, 0);
  host->startCups();
  EXPECT_TRUE(contains(host->run({"lpstat", "-p"}, {.uid = 1000}).out, "printer Q "));

  // Drivers under /usr/share/ppd are offered as lsb/usr/..., plain PPD files work too.
  ASSERT_EQ(host->sh("mkdir -p /usr/share/ppd/orv && gzip -c /etc/cups/ppd/Q.ppd > /usr/share/ppd/orv/X.ppd.gz"
                     " && cp /etc/cups/ppd/Q.ppd /root/plain.ppd")
                .status,
            0);
  EXPECT_TRUE(contains(host->sh("lpinfo -m").out, "lsb/usr/orv/X.ppd.gz "));
  result = host->sh("lpadmin -p Q -m lsb/usr/orv/X.ppd.gz && lpadmin -p P -E -v lpd://localhost/x -P /root/plain.ppd");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(contains(host->sh("lpstat -p").out, "printer P "));
}

TEST_F(SandboxHostTest, MountsATmpfsThatFillsUp) {
  const std::string spool = "/var/spool/mivo-full";
  ASSERT_FALSE(fs::exists(spool));
  host->write(spool + "/kept", "kept\n", 0640);
  ASSERT_EQ(host->sh("chown 7:7 " + spool + " " + spool + "/kept && chmod 0710 " + spool).status, 0);
  host->mountTmpfs(spool, 256 * 1024);
  EXPECT_EQ(host->sh("stat -f -c %T " + spool + "; echo $(($(stat -f -c '%b*%S' " + spool + "))); stat -c '%a %u:%g' " +
                     spool + " " + spool + "/kept; cat " + spool + "/kept")
                .out,
            "tmpfs\n262144\n710 7:7\n640 7:7\nkept\n");

  const auto full = host->sh("head -c 1048576 /dev/zero > " + spool + "/big");
  EXPECT_NE(full.status, 0);
  EXPECT_TRUE(contains(full.err, std::strerror(ENOSPC))) << full.err;
  EXPECT_EQ(host->sh("stat -f -c %a " + spool).out, "0\n");  // no block left
  // What filled it is neither on the machine nor in the host's layer there.
  EXPECT_FALSE(fs::exists(spool));
  EXPECT_FALSE(fs::exists(host->upperDir() + spool + "/big"));
  EXPECT_FALSE(contains(slurp("/proc/self/mountinfo"), spool));
}

TEST_F(SandboxHostTest, RestartsTheSchedulerOnlyWhenItIsDown) {
  host->startCups();
  ASSERT_EQ(host->sh("lpadmin -p Q -E -v file:///dev/null -m drv:///sample.drv/generic.ppd").status, 0);
  // Stops cupsd as a program would and waits until the host's init has reaped it.
  const auto stopCupsd = [&] {
    return host->sh("pid=$(pidof cupsd) && kill -TERM $pid && while [ -e /proc/$pid ]; do sleep 0.01; done").status;
  };

  // A program restarted it by itself: that cupsd is left alone.
  ASSERT_EQ(stopCupsd(), 0);
  ASSERT_EQ(host->sh("/usr/sbin/cupsd </dev/null >/dev/null 2>&1").status, 0);
  const std::string programs = host->sh("pidof cupsd").out;
  host->restartCupsIfDown();
  EXPECT_EQ(host->sh("pidof cupsd").out, programs);

  ASSERT_EQ(stopCupsd(), 0);
  EXPECT_NE(host->sh("lpstat -p").status, 0);
  host->restartCupsIfDown();
  EXPECT_TRUE(host->cupsRunning());
  EXPECT_TRUE(contains(host->sh("lpstat -p").out, "printer Q "));
}
