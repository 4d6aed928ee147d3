// Temporary trees and a run log to read back, for the queue unit tests.
#pragma once

#include <filesystem>
#include <string>

#include "../test_support.h"
#include "services/run_log.h"
#include "services/run_settings.h"

// A fresh directory with the run log opened inside it; all gone at the end.
class QueueTestTree : public TempDir {
 public:
  QueueTestTree() {
    resetRunSettings();
    runSettings().logFileName = root() + "/run.log";
    runSettings().commands.chcon.clear();
    openLog(0);
    logStart_ = readWhole(root() + "/run.log").size();
  }
  ~QueueTestTree() {
    closeLog();
    resetRunSettings();
  }
  // What was logged after the log's own opening lines.
  std::string log() const { return readWhole(root() + "/run.log").substr(logStart_); }

 private:
  size_t logStart_ = 0;
};

inline std::string sourcePath(const std::string& relative) {
  return (std::filesystem::path(__FILE__).parent_path() / "../../.." / relative).lexically_normal().string();
}
