#include "app/run_end.h"

#include <cstdlib>

#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/terminal.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/safe_dirs.h"
#include "sys/text.h"

namespace {

std::string kindWord(RunKind kind) {
  switch (kind) {
    case RunKind::Install: return messageText(msg::kKindInstall);
    case RunKind::Update: return messageText(msg::kKindUpdate);
    case RunKind::Removal: return messageText(msg::kKindRemoval);
    case RunKind::DryRun: return messageText(msg::kKindDryRun);
    case RunKind::Rollback: return messageText(msg::kKindRollback);
  }
  return {};
}

std::string outcomeWord(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Ok: return messageText(msg::kOutcomeOk);
    case RunOutcome::Partial: return messageText(msg::kOutcomePartial);
    case RunOutcome::Aborted: return messageText(msg::kOutcomeAborted);
    case RunOutcome::Refused: return messageText(msg::kOutcomeRefused);
  }
  return {};
}

int filesWith(const RunReport& report, FileAction action, FileOutcome outcome) {
  int count = 0;
  for (const ReportFile& file : report.files()) count += file.action == action && file.outcome == outcome;
  return count;
}

std::string suffixed(const std::string& name, int uid) { return uid != 0 ? name + formatText("_%d", uid) : name; }

// Written whole into the report directory, which only root may write.
bool writeReport(const std::string& path, Failure* why) {
  std::optional<SafeDir> dir = openRootOnlyDirectory(directoryOf(path), why);
  if (!dir) return false;
  for (const std::string& name : staleTemporaries(*dir)) removeFileAt(*dir, name);
  FileAccess access;
  access.mode = 0644;
  return writeFileAtomically(*dir, lastComponent(path), runReport().toJson(), access, why, LinkAtTarget::Replace);
}

// One line more at the end of the history, which a run never cuts short.
bool appendHistory(const std::string& path, Failure* why) {
  std::optional<SafeDir> dir = openRootOnlyDirectory(directoryOf(path), why);
  if (!dir) return false;
  std::string text = readWholeFile(path).value_or("");
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += runReport().historyLine();
  FileAccess access;
  access.mode = 0644;
  return writeFileAtomically(*dir, lastComponent(path), text, access, why);
}

// Where the report and the history go: the report directory when only root
// may change it and every directory above it, else beside the record.
std::string reportDirectory() {
  const RunSettings& s = runSettings();
  if (s.uid != 0 || openRootOnlyDirectory(s.places.reportDir)) return s.places.reportDir;
  logFailureMsg(msg::kReportDirMoved, s.places.reportDir, s.places.recordDir);
  return s.places.recordDir;
}

// What the run leaves for the next ones; the path of the report, or empty.
std::string writeRunRecords() {
  const RunSettings& s = runSettings();
  std::string dir = reportDirectory();
  std::string report = joinPath(dir, suffixed(kReportName, s.uid));
  Failure why;
  if (!writeReport(report, &why)) {
    if (s.uid == 0) logFailureMsg(msg::kReportNotWritten, report, describe(why));
    report.clear();
  }
  if (s.uid != 0) return report;
  std::string history = joinPath(dir, kHistoryName);
  if (!appendHistory(history, &why)) logFailureMsg(msg::kHistoryNotWritten, history, describe(why));
  // The record changes only with the host: a plan or a run that changed
  // nothing on a host without one leaves none.
  if (!effects().onlyPlans() && (runReport().changed() || productRecordFound())) {
    productRecord().addRun(runReport().historyLine());
    if (!saveProductRecord(&why)) {
      logFailureMsg(msg::kRecordNotWritten, joinPath(s.places.recordDir, kRecordName), describe(why));
    }
  }
  return report;
}

}  // namespace

int exitStatusFor(RunOutcome outcome, bool strict) {
  if (!strict || outcome == RunOutcome::Ok) return 0;
  return outcome == RunOutcome::Partial ? 1 : 2;
}

std::string closingLine(const RunReport& report, const std::string& logPath, const std::string& reportPath) {
  ReportCounts counts = report.counts();
  std::string reportShown = reportPath.empty() ? std::string(messageText(msg::kNoReport)) : reportPath;
  return formatMessage(msg::kClosing, kindWord(report.kind()), outcomeWord(report.outcome()),
                       toString(report.outcome()), counts.count(QueueOutcome::Updated),
                       counts.count(QueueOutcome::RolledBack), counts.count(QueueOutcome::Removed),
                       counts.count(QueueOutcome::Unchanged), counts.count(QueueOutcome::Failed),
                       counts.count(QueueOutcome::Kept), filesWith(report, FileAction::Install, FileOutcome::Done),
                       filesWith(report, FileAction::Install, FileOutcome::Unchanged),
                       filesWith(report, FileAction::Remove, FileOutcome::Done), counts.count(FileOutcome::Failed),
                       logPath, reportShown);
}

void endRun() {
  const RunSettings& s = runSettings();
  runReport().setChanged(hostChanged());
  // Written before the log closes, so that a failure to write them is logged.
  std::string report = writeRunRecords();
  std::string log = s.logOpened ? s.logFileName : std::string(messageText(msg::kNoReport));
  if (s.logOpened) closeLog();
  startStdoutLine();
  writeStdout(closingLine(runReport(), log, report));
  std::exit(exitStatusFor(runReport().outcome(), s.strictStatus));
}
