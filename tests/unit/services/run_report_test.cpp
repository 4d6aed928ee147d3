#include "services/run_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/run_end.h"

namespace {

// What a fleet reads first: the outcome, and the exit status it maps to.
TEST(RunReport, OutcomeFollowsWhatHappened) {
  const std::tuple<std::function<void(RunReport&)>, std::string> cases[] = {
      {[](RunReport&) {}, "ok"},
      {[](RunReport& r) { r.addQueue("Office").outcome = "updated"; }, "ok"},
      {[](RunReport& r) { r.addQueue("Office").outcome = "failed"; }, "partial"},
      {[](RunReport& r) { r.addFile("/opt/orv/bin/setup", "install").outcome = "failed"; }, "partial"},
      {[](RunReport& r) { r.addError("line\n"); }, "partial"},
      {[](RunReport& r) { r.markAborted("no CUPS"); r.addError("x"); }, "aborted"},
      {[](RunReport& r) { r.markRefused("not root"); r.markAborted("later"); }, "refused"},  // the first stop stays
  };
  for (const auto& [happen, outcome] : cases) {
    RunReport report;
    report.start("update");
    happen(report);
    EXPECT_EQ(report.outcome(), outcome);
    nlohmann::json json = nlohmann::json::parse(report.toJson());
    EXPECT_EQ(json["outcome"], outcome);
    EXPECT_EQ(json["kind"], "update");
  }
  const std::tuple<std::string, bool, int> statuses[] = {
      {"ok", true, 0}, {"partial", true, 1}, {"aborted", true, 2}, {"refused", true, 2}, {"partial", false, 0}, {"refused", false, 0},
  };
  for (const auto& [outcome, strict, status] : statuses) EXPECT_EQ(exitStatusFor(outcome, strict), status) << outcome;
}

// Names are bytes: the report holds them as UTF-8, ISO-8859-1 where they are not UTF-8 already.
TEST(RunReport, TextsBecomeValidUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"Office", "Office"}, {"B\xC3\xBCro", "B\xC3\xBCro"}, {"B\xFCro", "B\xC3\xBCro"},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // a surrogate is no UTF-8
      {"\xC3", "\xC3\x83"}, {"Instalaci\xF3n", "Instalaci\xC3\xB3n"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(utf8Text(bytes), text);
  RunReport report;
  report.addQueue("\xFF\xFE").detail = "\x80";
  EXPECT_NO_THROW(nlohmann::json::parse(report.toJson()));
}

}  // namespace
