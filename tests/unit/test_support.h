// Scratch hosts for the unit tests: a directory that stands for the host's
// fixed places, the run's log and report inside it, and the effects of the
// run made for real there or only planned.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/effects.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_report.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/trusted_paths.h"

inline std::string readWhole(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void writeWhole(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
  ::chmod(path.c_str(), mode);
}

inline std::string sourcePath(const std::string& relative) {
  return (std::filesystem::path(__FILE__).parent_path() / "../.." / relative).lexically_normal().string();
}

// A fresh directory, removed with all it holds at the end. Made where only
// root may write when the test runs as root, so that the rules about what
// root alone controls can be tried whatever directory the tests run from.
class TempDir {
 public:
  TempDir() {
    std::string base = ::geteuid() == 0 && isTrustedDirectory("/run") ? std::string("/run")
                                                                       : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/setuptestXXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    ::chmod(pattern.c_str(), 0755);
    root_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(root_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& root() const { return root_; }
  std::string operator/(const std::string& relative) const { return root_ + "/" + relative; }

 private:
  std::string root_;
};

// A scratch host: fresh settings whose product, report, record, archive and
// scratch places and CUPS prefix lie inside the scratch directory, a run log
// there, and the run's effects real or planned.
class ScratchHost : public TempDir {
 public:
  explicit ScratchHost(bool planOnly = false) {
    resetRunSettings();
    resetProductRecord();
    runReport().start(RunKind::Install);
    startEffects(planOnly);
    RunSettings& s = runSettings();
    s.places = Places{*this / "opt/orv", *this / "log", *this / "var/log/mivo", *this / "var/lib/mivo",
                      *this / "var/tmp", *this / "usr/bin/zebgsfilter", *this / "tmp"};
    s.cupsBaseDir = root();
    s.cupsModelDir = *this / "usr/share/cups/model";
    s.installDir = *this / "opt/orv";
    s.commands.chcon.clear();
    for (const char* dir :
         {"etc/cups/ppd", "opt", "var/tmp", "tmp", "usr/bin", "usr/share/ppd", "usr/share/cups/model", "var/log", "var/lib"})
      std::filesystem::create_directories(*this / dir);
    s.logFileName = *this / "log";
    openLog(0);
  }
  ~ScratchHost() {
    closeLog();
    startEffects(false);
    resetRunSettings();
    resetProductRecord();
  }
  std::string log() const { return readWhole(*this / "log"); }
  // The changes made or planned, as "kind path" lines with the root left out.
  std::vector<std::string> changes() const {
    static const char* kKinds[] = {"mkdir", "takeback", "write", "link", "rm", "rmtree", "rename", "run", "make"};
    std::vector<std::string> lines;
    for (const Change& c : effects().changes()) {
      std::string path = c.path.starts_with(root()) ? c.path.substr(root().size()) : c.path;
      lines.push_back(std::string(kKinds[static_cast<int>(c.kind)]) + " " + (path.empty() ? c.detail : path));
    }
    return lines;
  }
};

// Takes the place of the system shell while it lives: every command line the
// program would run is recorded, and answered with the next status given
// (0 when none is left).
class RecordingRunner : public CommandRunner {
 public:
  explicit RecordingRunner(std::vector<int> statuses = {})
      : statuses_(std::move(statuses)), previous_(useCommandRunner(*this)) {}
  ~RecordingRunner() override { useCommandRunner(previous_); }
  int run(const std::string& command, std::chrono::seconds) override {
    commands.push_back(command);
    if (next_ >= statuses_.size()) return 0;
    return statuses_[next_++];
  }
  std::vector<std::string> commands;

 private:
  std::vector<int> statuses_;
  size_t next_ = 0;
  CommandRunner& previous_;
};

// Skips a test that needs root (to own files as root and as others).
#define REQUIRE_ROOT()                                                       \
  do {                                                                       \
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as root"; \
  } while (0)
