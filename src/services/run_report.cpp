#include "services/run_report.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "services/run_settings.h"
#include "sys/text.h"

namespace {

using nlohmann::json;

std::string isoTime(std::time_t when) {
  std::tm utc{};
  ::gmtime_r(&when, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string printSystemName(int kind) {
  switch (kind) {
    case kPrinterLp: return "LP";
    case kPrinterLpr: return "LPR";
    case kPrinterLprng: return "LPRNG";
    case kPrinterCups: return "CUPS";
    default: return "unknown";
  }
}

json hostFacts() {
  const RunSettings& s = runSettings();
  return {
      {"printSystem", printSystemName(s.printerManager)},
      {"cupsVersion", s.printerManager == kPrinterCups ? json(s.cupsVersion) : json(nullptr)},
      {"cupsBinDir", utf8Text(s.cupsBinDir)},
      {"cupsBaseDir", utf8Text(s.cupsBaseDir)},
      {"seLinux", s.seLinuxMode != 0},
      {"foomaticRip", s.noFoomatic == 0},
      {"ppdDirectories",
       {{"cupsModel", utf8Text(s.cupsModelDir)},
        {"system", utf8Text(s.systemPpdDir)},
        {"install", utf8Text(s.ppdInstallDir)},
        {"existing", utf8Text(s.existingPpdDir)}}},
  };
}

json queueJson(const ReportQueue& q, bool dryRun) {
  json carried = json::array();
  for (const ReportDefault& d : q.carried) carried.push_back({{"option", utf8Text(d.option)}, {"value", utf8Text(d.value)}});
  json notCarried = json::array();
  for (const ReportNotCarried& d : q.notCarried) {
    notCarried.push_back(
        {{"option", utf8Text(d.option)}, {"value", utf8Text(d.value)}, {"reason", toString(d.reason)}});
  }
  json queue = {{"name", utf8Text(q.name)},
                {"oldPpd", utf8Text(q.oldPpd)},
                {"newPpd", utf8Text(q.newPpd)},
                {"backup", utf8Text(q.backup)},
                {"defaultsCarried", carried},
                {"defaultsNotCarried", notCarried},
                {"outcome", toString(q.outcome, dryRun)},
                {"detail", utf8Text(q.detail)}};
  // Two names that read alike as text stay apart by their bytes.
  if (!isUtf8(q.name)) queue["nameBytes"] = escapedBytes(q.name);
  return queue;
}

json countsJson(const ReportCounts& counts, bool dryRun) {
  json queues = json::object();
  for (int i = 0; i < kQueueOutcomes; ++i) queues[toString(static_cast<QueueOutcome>(i), dryRun)] = counts.queues[i];
  json files = json::object();
  for (int i = 0; i < kFileOutcomes; ++i) files[toString(static_cast<FileOutcome>(i))] = counts.files[i];
  return {{"queues", queues}, {"files", files}};
}

// A stop's reason as the report states it: the terminal's "setup: "
// prefix, line end and closing period are the terminal's, not the reason's.
std::string reasonOf(std::string_view cause) {
  std::string_view text = withoutLineEnd(cause);
  if (text.starts_with("setup: ")) text.remove_prefix(7);
  if (text.ends_with('.')) text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

const char* toString(RunKind kind) {
  static constexpr const char* kWords[] = {"install", "update", "removal", "dry-run", "rollback"};
  return kWords[static_cast<int>(kind)];
}

const char* toString(RunOutcome outcome) {
  static constexpr const char* kWords[] = {"ok", "partial", "aborted", "refused"};
  return kWords[static_cast<int>(outcome)];
}

const char* toString(NotCarriedReason reason) {
  static constexpr const char* kWords[] = {"option-not-declared", "choice-not-offered", "no-default-line",
                                           "not-read-back", "value-not-writable"};
  return kWords[static_cast<int>(reason)];
}

std::string toString(QueueOutcome outcome, bool dryRun) {
  static constexpr const char* kWords[] = {"updated", "unchanged", "rolled-back", "kept", "failed", "removed"};
  std::string word = kWords[static_cast<int>(outcome)];
  bool isChange = outcome == QueueOutcome::Updated || outcome == QueueOutcome::RolledBack;
  if (!dryRun || !isChange) return word;
  return outcome == QueueOutcome::Updated ? "would-update" : "would-roll-back";
}

std::string toString(FileAction action, bool dryRun) {
  static constexpr const char* kWords[] = {"install", "remove", "archive"};
  return std::string(dryRun ? "would-" : "") + kWords[static_cast<int>(action)];
}

const char* toString(FileOutcome outcome) {
  static constexpr const char* kWords[] = {"ok", "unchanged", "failed", "skipped"};
  return kWords[static_cast<int>(outcome)];
}

bool isUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t extra = c < 0x80                   ? 0
                   : (c >= 0xC2 && c <= 0xDF) ? 1
                   : (c >= 0xE0 && c <= 0xEF) ? 2
                   : (c >= 0xF0 && c <= 0xF4) ? 3
                                              : 9;
    if (extra == 9 || i + extra >= bytes.size() + (extra == 0)) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    unsigned char next = extra ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90))
      return false;
    i += extra + 1;
  }
  return true;
}

std::string utf8Text(std::string_view bytes) {
  if (isUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string escapedBytes(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += formatText("\\x%02x", c);
    }
  }
  return out;
}

void RunReport::start(RunKind kind) {
  *this = RunReport{};
  kind_ = kind;
  started_ = std::time(nullptr);
}

ReportFile& RunReport::addFile(std::string path, FileAction action) {
  files_.push_back({std::move(path), action, FileOutcome::Done, ""});
  return files_.back();
}

ReportQueue& RunReport::addQueue(std::string name) {
  queues_.push_back({});
  queues_.back().name = std::move(name);
  return queues_.back();
}

ReportQueue& RunReport::queueEntry(const std::string& name) {
  if (!queues_.empty() && queues_.back().name == name) return queues_.back();
  return addQueue(name);
}

void RunReport::addError(std::string_view line) { errors_.emplace_back(withoutLineEnd(line)); }

void RunReport::stop(RunOutcome how, const std::string& reason) {
  if (stopped_) return;
  stopped_ = true;
  stop_ = how;
  stopReason_ = reasonOf(reason);
  addError(stopReason_);
}

void RunReport::markAborted(const std::string& reason) { stop(RunOutcome::Aborted, reason); }

void RunReport::markRefused(const std::string& reason) { stop(RunOutcome::Refused, reason); }

RunOutcome RunReport::outcome() const {
  if (stopped_) return stop_;
  bool failures = !errors_.empty() ||
                  std::any_of(queues_.begin(), queues_.end(),
                              [](const ReportQueue& q) { return q.outcome == QueueOutcome::Failed; }) ||
                  std::any_of(files_.begin(), files_.end(),
                              [](const ReportFile& f) { return f.outcome == FileOutcome::Failed; });
  return failures ? RunOutcome::Partial : RunOutcome::Ok;
}

ReportCounts RunReport::counts() const {
  ReportCounts counts;
  for (const ReportQueue& q : queues_) ++counts.queues[static_cast<int>(q.outcome)];
  for (const ReportFile& f : files_) ++counts.files[static_cast<int>(f.outcome)];
  return counts;
}

std::string RunReport::toJson() const {
  const RunSettings& s = runSettings();
  bool dryRun = kind_ == RunKind::DryRun;
  json files = json::array();
  for (const ReportFile& f : files_) {
    files.push_back({{"path", utf8Text(f.path)},
                     {"action", toString(f.action, dryRun)},
                     {"outcome", toString(f.outcome)},
                     {"detail", utf8Text(f.detail)}});
  }
  json errors = json::array();
  for (const std::string& e : errors_) errors.push_back(utf8Text(e));
  json report = {
      {"schemaVersion", kReportSchemaVersion},
      {"program", {{"name", "setup"}, {"version", kProgramVersion}}},
      {"kind", toString(kind_)},
      {"started", isoTime(started_)},
      {"finished", isoTime(std::time(nullptr))},
      {"outcome", toString(outcome())},
      {"reason", utf8Text(stopReason_)},
      {"changed", changed_},
      {"counts", countsJson(counts(), dryRun)},
      {"host", hostFacts()},
      {"installDir", utf8Text(s.installDir)},
      {"updateKind", static_cast<int>(s.updateKind)},
      {"queues", json::array()},
  };
  report["files"] = std::move(files);
  report["errors"] = std::move(errors);
  // The queues are written one by one into their place: ten thousand of them
  // never stand in memory as one tree.
  const std::string text = report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  const std::string empty = "\n  \"queues\": [],";
  const size_t at = text.find(empty);
  if (at == std::string::npos || queues_.empty()) return text;
  std::string whole = text.substr(0, at) + "\n  \"queues\": [";
  for (size_t i = 0; i < queues_.size(); ++i) {
    std::string one = queueJson(queues_[i], dryRun).dump(2, ' ', false, json::error_handler_t::replace);
    for (size_t line = one.find('\n'); line != std::string::npos; line = one.find('\n', line + 5))
      one.insert(line + 1, "    ");
    whole += (i == 0 ? "\n    " : ",\n    ") + one;
  }
  whole += "\n  ],";
  return whole.append(text, at + empty.size());
}

std::string RunReport::historyLine() const {
  json line = {{"kind", toString(kind_)},
               {"started", isoTime(started_)},
               {"finished", isoTime(std::time(nullptr))},
               {"outcome", toString(outcome())},
               {"changed", changed_},
               {"counts", countsJson(counts(), kind_ == RunKind::DryRun)},
               {"version", kProgramVersion}};
  return line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

RunReport& runReport() {
  static RunReport report;
  return report;
}
