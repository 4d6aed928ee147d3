#include "e2e/e2e_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

std::string sourceText(const std::string& relative) {
  std::ostringstream text;
  text << std::ifstream(std::filesystem::path(SOURCE_DIR) / relative, std::ios::binary).rdbuf();
  return text.str();
}

void HostTest::SetUp() {
  std::string why;
  if (!SandboxHost::available(&why)) GTEST_SKIP() << "no sandboxed host: " << why;
  host = std::make_unique<SandboxHost>();
  host->copyIn(DIST_DIR, kTree);
  for (const char* ppd : {"tamra_cendra2100_ps.ppd", "tamra_cendra2100duo_pcl.ppd", "tamra_lumo4400_ps.ppd"})
    host->write(std::string("/srv/old/") + ppd, sourceText(std::string("tests/fixtures/ppd-old/") + ppd));
}

void HostTest::queue(const std::string& name, const std::string& oldPpd, const std::string& options) {
  std::string change = options.empty() ? "" : " && lpadmin -p '" + name + "' " + options;
  SandboxResult r = host->sh("lpadmin -p '" + name + "' -E -v socket://127.0.0.1:9100 -P /srv/old/" + oldPpd + change);
  ASSERT_EQ(r.status, 0) << r.err;
}

SandboxResult HostTest::setup(std::vector<std::string> args, SandboxRunOptions options) {
  if (args.empty() || args[0].starts_with("-")) args.insert(args.begin(), "./bin/setup");
  if (options.cwd == "/") options.cwd = kTree;
  options.env.emplace("ZEBLPMODE", "CUPS");
  return host->run(args, options);
}

std::vector<std::string> HostTest::changedBesidesTheRunsOwn() {
  std::vector<std::string> paths;
  for (const SandboxChange& change : host->changed()) {
    bool own = change.path == kLog || change.path.starts_with("/var/log/mivo") || change.path.starts_with("/var/lib/mivo");
    if (!own) paths.push_back(change.path);
  }
  return paths;
}
