// Scratch directories and whole-file reads and writes, for the unit tests.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/shell.h"

inline std::string readWhole(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void writeWhole(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A fresh directory under the temporary directory; it and everything in it
// (unreadable entries included) are removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "setuptestXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
  }
  ~TempDir() { std::system(("chmod -R u+rwx '" + root_ + "'; rm -rf '" + root_ + "'").c_str()); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& root() const { return root_; }

 private:
  std::string root_;
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
