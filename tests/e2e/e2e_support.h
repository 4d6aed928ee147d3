// Shared helpers of the end-to-end tests: a sandboxed host with the
// distribution tree at /srv/mivo and product queues made from an older
// release's PPDs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

inline const std::string kLog = "/var/log/Mivo4.0_UpdateLog";
inline const std::string kReport = "/var/log/mivo/Mivo4.0_UpdateReport.json";
inline const std::string kRecord = "/var/lib/mivo/Mivo4.0_Record.json";
inline const std::string kTree = "/srv/mivo";

// A file of the source tree, whole.
std::string sourceText(const std::string& relative);

// A fresh sandboxed host for each test (skipped where none can be built),
// with the distribution tree at kTree and the older release's PPDs in /srv/old.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // A queue of the older release's PPD (a file name of tests/fixtures/ppd-old), its defaults then changed.
  void queue(const std::string& name, const std::string& oldPpd, const std::string& options = "");
  // setup started from the top of the tree (or with the given words) with the given options.
  SandboxResult setup(std::vector<std::string> args = {}, SandboxRunOptions options = {});
  nlohmann::json report() { return nlohmann::json::parse(host->read(kReport)); }
  // The paths the last run changed, less the run's own log, report, history and record.
  std::vector<std::string> changedBesidesTheRunsOwn();
  std::unique_ptr<SandboxHost> host;
};
