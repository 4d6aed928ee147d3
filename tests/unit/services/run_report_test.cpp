#include "services/run_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "../test_support.h"
#include "app/run_end.h"
#include "services/run_log.h"

// What a fleet reads first: the outcome, the exit status it maps to, the counts.
TEST(RunReport, OutcomeStatusAndCountsFollowWhatHappened) {
  const std::tuple<std::function<void(RunReport&)>, std::string, int> cases[] = {
      {[](RunReport&) {}, "ok", 0},
      {[](RunReport& r) { r.addQueue("Office").outcome = QueueOutcome::Updated; }, "ok", 0},
      {[](RunReport& r) { r.addQueue("Office").outcome = QueueOutcome::Failed; }, "partial", 1},
      {[](RunReport& r) { r.addFile("/opt/orv/bin/setup", FileAction::Install).outcome = FileOutcome::Failed; },
       "partial", 1},
      {[](RunReport& r) { r.addError("line\n"); }, "partial", 1},
      {[](RunReport& r) { r.markAborted("setup: no CUPS.\n"); }, "aborted", 2},
      {[](RunReport& r) { r.markRefused("not root"); r.markAborted("later"); }, "refused", 2},  // the first stop stays
  };
  for (const auto& [happen, outcome, strict] : cases) {
    RunReport report;
    report.start(RunKind::Update);
    happen(report);
    nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["outcome"], outcome);
    EXPECT_EQ(exitStatusFor(report.outcome(), true), strict) << outcome;
    EXPECT_EQ(exitStatusFor(report.outcome(), false), 0);
    if (outcome == "aborted" || outcome == "refused") {
      EXPECT_EQ(json["errors"][0], json["reason"]);
      EXPECT_EQ(json["reason"], outcome == "aborted" ? "no CUPS" : "not root");  // as the report states it
    }
  }
  RunReport dry;
  dry.start(RunKind::DryRun);
  dry.addQueue("Office").outcome = QueueOutcome::Updated;
  dry.addQueue("Lab").outcome = QueueOutcome::Unchanged;
  dry.addFile("/opt/orv/bin/setup", FileAction::Install);
  nlohmann::json json = nlohmann::json::parse(dry.toJson());
  EXPECT_EQ(json["queues"][0]["outcome"], "would-update");
  EXPECT_EQ(json["files"][0]["action"], "would-install");
  EXPECT_EQ(json["counts"]["queues"], (nlohmann::json{{"would-update", 1}, {"unchanged", 1}, {"would-roll-back", 0},
                                                       {"kept", 0}, {"failed", 0}, {"removed", 0}}));
}

// Names are bytes: the report holds them as UTF-8, and two that read alike
// as text stay apart by their bytes.
TEST(RunReport, TextsBecomeUtf8AndNamesStayApart) {
  const std::pair<std::string, std::string> cases[] = {
      {"B\xC3\xBCro", "B\xC3\xBCro"}, {"B\xFCro", "B\xC3\xBCro"}, {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
      {"\xC3", "\xC3\x83"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(utf8Text(bytes), text);
  RunReport report;
  report.addQueue("q\xE9");
  report.addQueue("q\xC3\xA9");
  nlohmann::json json = nlohmann::json::parse(report.toJson());
  EXPECT_EQ(json["queues"][0]["name"], json["queues"][1]["name"]);
  EXPECT_EQ(json["queues"][0]["nameBytes"], "q\\xe9");
  EXPECT_FALSE(json["queues"][1].contains("nameBytes"));
  EXPECT_EQ(nlohmann::json::parse(report.historyLine())["counts"]["queues"]["failed"], 2);
}

// Each run's log starts empty: nothing of a longer earlier run stays at its end.
TEST(RunLog, EachRunWritesItsLogAnew) {
  ScratchHost host;
  closeLog();
  writeWhole(host / "log", std::string(20000, '.') + "\nearlier run\n");
  ASSERT_EQ(openLog(0), 1);
  logMessage("this run\n");
  closeLog();
  EXPECT_EQ(host.log().find("earlier run"), std::string::npos);
  EXPECT_NE(host.log().find("this run\n"), std::string::npos);
}
