// Shared helpers of the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

inline const std::string kLog = "/var/log/Mivo4.0_UpdateLog";
inline const std::string kReport = "/var/log/Mivo4.0_UpdateReport.json";
inline const std::string kProgram = "/srv/mivo/bin/setup";

// A fresh sandboxed host for each test (skipped where none can be built).
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!SandboxHost::available(&why)) GTEST_SKIP() << "no sandboxed host: " << why;
    host = std::make_unique<SandboxHost>();
  }
  std::unique_ptr<SandboxHost> host;
};

// The same, with the program installed as a distribution tree's at kProgram.
class ProgramTest : public SandboxTest {
 protected:
  void SetUp() override;
};

// The ISO-8859-1 bytes of a UTF-8 literal, so expectations can be written readably.
std::string latin1(const std::string& utf8);

// The lines of a text, without their newlines.
std::vector<std::string> linesOf(const std::string& text);

// Checks that every expected line occurs among the actual lines, in this order.
::testing::AssertionResult linesInOrder(const std::string& text, const std::vector<std::string>& expected);

// The installed setup program, copied into the host as a distribution tree's bin/setup.
void installProgramAt(SandboxHost& host, const std::string& dir);

// A file of this machine (the built distribution tree, a fixture), whole.
std::string machineText(const std::string& path);

// A path's permission bits inside the host, as stat prints them ("755"), or "?".
std::string modeOf(SandboxHost& host, const std::string& path);
