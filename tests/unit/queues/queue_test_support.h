// Temporary trees and a run log to read back, for the queue unit tests.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "run/run_log.h"
#include "run/run_settings.h"

inline std::string readWhole(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void writeWhole(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A fresh directory with the run log opened inside it; all gone at the end.
class QueueTestTree {
 public:
  QueueTestTree() {
    resetRunSettings();
    std::string pattern = (std::filesystem::temp_directory_path() / "queuetestXXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    runSettings().logFileName = root_ + "/run.log";
    runSettings().commands.chcon.clear();
    openLog(0);
    logStart_ = readWhole(root_ + "/run.log").size();
  }
  ~QueueTestTree() {
    closeLog();
    std::filesystem::remove_all(root_);
    resetRunSettings();
  }
  const std::string& root() const { return root_; }
  // What was logged after the log's own opening lines.
  std::string log() const { return readWhole(root_ + "/run.log").substr(logStart_); }

 private:
  std::string root_;
  size_t logStart_ = 0;
};

inline std::string sourcePath(const std::string& relative) {
  return (std::filesystem::path(__FILE__).parent_path() / "../../.." / relative).lexically_normal().string();
}
