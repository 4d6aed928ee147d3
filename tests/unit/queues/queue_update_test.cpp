#include "queues/queue_update.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "../test_support.h"
#include "queues/cups_restart.h"
#include "queues/queue_inventory.h"
#include "queues/queue_rollback.h"
#include "sys/sha256.h"

namespace {

namespace fs = std::filesystem;

const std::string kOld = readWhole(sourcePath("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd"));
const std::string kNew = readWhole(sourcePath("dist/ppd/tamra_cendra2100_ps.ppd"));

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// A scratch host with product queues in its scheduler's PPD directory and
// the model's new PPD in the PPD install directory.
struct QueueHost : ScratchHost {
  explicit QueueHost(const std::string& newPpd = kNew) {
    runSettings().ppdInstallDir = *this / "usr/share/ppd/orv";
    writeWhole(*this / "usr/share/ppd/orv/tamra_cendra2100_ps.ppd", newPpd);
  }
  void queue(const std::string& name, const std::string& text) { writeWhole(*this / ("etc/cups/ppd/" + name + ".ppd"), text, 0640); }
  std::string ppd(const std::string& name) const { return readWhole(*this / ("etc/cups/ppd/" + name + ".ppd")); }
  std::string backup(const std::string& name) const { return readWhole(*this / ("etc/cups/" + name + ".ppd.rpmsave")); }
  // One update run from scratch, real or planned; the report's queue entries.
  const std::vector<ReportQueue>& update(bool planOnly = false, int askFlag = 0) {
    startEffects(planOnly);
    runReport().start(RunKind::Update);
    QueueList list;
    int count = 0;
    PpdCandidates candidates;
    RecordingRunner restarts;
    scanQueuePpds(list, count, candidates);
    if (count > 0) updateQueues(runSettings().ppdInstallDir, list, count, askFlag, candidates);
    restartCommands = restarts.commands;
    return runReport().queues();
  }
  std::vector<std::string> restartCommands;
};

const std::string kOffice = replaced(kOld, "*DefaultPageSize: A4", "*DefaultPageSize: Letter");

TEST(QueueUpdate, AQueueMovesOnceAndARerunLeavesItAndItsBackupAlone) {
  QueueHost host;
  host.queue("Office", kOffice);
  std::vector<ReportQueue> planned = host.update(true);
  ASSERT_EQ(planned.size(), 1u);
  EXPECT_EQ(planned[0].outcome, QueueOutcome::Updated);
  EXPECT_EQ(host.ppd("Office"), kOffice);  // a plan changes nothing
  restartCupsIfChanged();
  EXPECT_NE(host.log().find("Simulaci\xF3n: CUPS ya se reinici\xF3"), std::string::npos);  // planned, not done
  std::vector<ReportQueue> first = host.update();
  EXPECT_EQ(first[0].outcome, QueueOutcome::Updated);
  EXPECT_EQ(host.backup("Office"), kOffice);
  EXPECT_EQ(fs::status(host / "etc/cups/Office.ppd.rpmsave").permissions(), fs::perms(0640));  // as private as the PPD
  std::string moved = host.ppd("Office");
  EXPECT_NE(moved.find("*DefaultPageSize: Letter\n"), std::string::npos);
  EXPECT_NE(moved.find("*DefaultResolution: 600dpi\n"), std::string::npos);  // 300dpi is no choice there
  EXPECT_EQ(fs::status(host / "etc/cups/ppd/Office.ppd").permissions(), fs::perms(0640));
  const RecordedQueue* recorded = productRecord().queue("Office");
  ASSERT_TRUE(recorded);
  EXPECT_EQ(std::tie(recorded->ppdSha256, recorded->backupSha256), std::make_tuple(sha256Hex(moved), sha256Hex(kOffice)));
  EXPECT_FALSE(host.restartCommands.empty());
  RecordingRunner secondRestart;
  restartCupsIfChanged();  // nothing new since the update's restart
  EXPECT_TRUE(secondRestart.commands.empty());
  effects().makeDirectory(host / "later", 0755, nullptr);
  for (int status : {256, 0}) {  // a restart that failed has seen nothing: the next one is tried
    RecordingRunner restart({status, status});
    size_t logged = host.log().size();
    restartCupsIfChanged();
    EXPECT_EQ(host.log().find("ya se reinici", logged), std::string::npos) << status;
  }
  // The queue's block of the log reads in order: its lines, the backup, the new PPD, the copy.
  std::string log = host.log();
  size_t block = log.find("Impresora = Office"), saved = log.find("guardar "), made = log.find("Nueva PPD para"),
         copied = log.find("Copia ");
  EXPECT_TRUE(block < saved && saved < made && made < copied) << log;

  std::vector<ReportQueue> again = host.update();
  EXPECT_EQ(again[0].outcome, QueueOutcome::Unchanged);
  EXPECT_EQ(host.backup("Office"), kOffice);
  EXPECT_EQ(host.ppd("Office"), moved);
  EXPECT_TRUE(host.restartCommands.empty());
  EXPECT_NE(host.log().find("Nada cambi\xF3 en el sistema: CUPS no se reinicia."), std::string::npos);
}

// Every queue ends moved with its defaults or on its old PPD, and the
// report and the log say which.
TEST(QueueUpdate, WhatCannotBeReadOrWrittenNeverReachesAQueue) {
  const std::string noFinalLineFeed = kNew.substr(0, kNew.size() - 1);
  const std::tuple<std::string, std::string, std::string, QueueOutcome, std::string> cases[] = {
      {"no final line feed", kNew.substr(0, kNew.size() - 1), kOffice, QueueOutcome::Updated, "Letter"},
      {"default stated again", kNew + "*DefaultPageSize: Legal\n", kOffice, QueueOutcome::Updated, "Letter"},
      {"choice in another case", replaced(kNew, "*PageSize Letter/", "*PageSize LETTER/"), kOffice,
       QueueOutcome::Updated, "LETTER"},
      {"old PPD libcups cannot read", kNew, replaced(kOffice, "*PPD-Adobe: \"4.3\"\n", ""), QueueOutcome::Updated,
       "Letter"},  // moves, with the new PPD's defaults; the run is partial
      {"new PPD libcups refuses", replaced(kNew, "*FormatVersion", "FormatVersion"), kOffice, QueueOutcome::Failed, ""},
      {"backup cannot be saved", kNew, kOffice, QueueOutcome::Failed, ""},  // no move without the undo
  };
  for (const auto& [what, newPpd, oldPpd, outcome, pageSize] : cases) {
    QueueHost host(newPpd);
    host.queue("Office", oldPpd);
    if (what.starts_with("backup")) fs::create_directories(host / "etc/cups/Office.ppd.rpmsave/in-the-way");
    const ReportQueue& report = host.update().at(0);
    EXPECT_EQ(report.outcome, outcome) << what;
    bool moved = outcome == QueueOutcome::Updated;
    EXPECT_EQ(host.ppd("Office") != oldPpd, moved) << what;
    EXPECT_EQ(runReport().outcome(), what.starts_with("old") || !moved ? RunOutcome::Partial : RunOutcome::Ok) << what;
    if (!moved) continue;
    std::optional<DeclaredOptions> read = declaredOptions(host.ppd("Office"));
    ASSERT_TRUE(read) << what;
    std::string expected = what.starts_with("old") ? "Letter" : pageSize;
    EXPECT_EQ(read->byKeyword.at("pagesize").defaultChoice, expected) << what;
    for (const ReportDefault& d : report.carried)
      EXPECT_TRUE(equalsIgnoringCase(read->byKeyword.at(lowerCase(d.option)).defaultChoice, d.value)) << what;
  }
}

TEST(QueueUpdate, ADamagedCompressedCandidateIsNamed) {
  QueueHost host;
  fs::remove(host / "usr/share/ppd/orv/tamra_cendra2100_ps.ppd");
  std::vector<unsigned char> packed(compressBound(kNew.size()) + 64);
  gzFile out = gzopen((host / "usr/share/ppd/orv/c.ppd.gz").c_str(), "wb");
  gzwrite(out, kNew.data(), static_cast<unsigned>(kNew.size()));
  gzclose(out);
  std::string gz = readWhole(host / "usr/share/ppd/orv/c.ppd.gz");
  gz[gz.size() - 6] ^= 0x55;  // the check sum no longer matches
  writeWhole(host / "usr/share/ppd/orv/c.ppd.gz", gz);
  host.queue("Office", kOffice);
  EXPECT_EQ(host.update().at(0).outcome, QueueOutcome::Failed);
  EXPECT_NE(host.log().find("Problema descomprimir: " + host / "usr/share/ppd/orv/c.ppd.gz para la impresora Office!"),
            std::string::npos);
  EXPECT_EQ(host.ppd("Office"), kOffice);
}

// Only the copy the product saved goes back, and what it replaces is kept:
// a second rollback undoes the first.
TEST(QueueRollback, PutsBackOnlyWhatTheProductSavedAndKeepsWhatItReplaces) {
  QueueHost host;
  host.queue("Office", kOffice);
  host.queue("Lab", kOffice);
  host.update();
  std::string moved = host.ppd("Office");
  writeWhole(host / "etc/shadow", "root:secret");
  fs::remove(host / "etc/cups/Lab.ppd.rpmsave");
  fs::create_symlink(host / "etc/shadow", host / "etc/cups/Lab.ppd.rpmsave");
  RecordingRunner restarts;
  startEffects(false);
  EXPECT_EQ(rollbackQueues(0), 1);
  EXPECT_EQ(host.ppd("Office"), kOffice);
  EXPECT_EQ(host.backup("Office"), moved);
  EXPECT_EQ(host.ppd("Lab"), moved);  // its saved copy is a link: left as it is
  EXPECT_NE(host.log().find("La impresora Lab no vuelve a"), std::string::npos);
  startEffects(false);
  EXPECT_EQ(rollbackQueues(0), 1);
  EXPECT_EQ(host.ppd("Office"), moved);
  EXPECT_EQ(host.backup("Office"), kOffice);
  writeWhole(host / "etc/cups/Office.ppd.rpmsave", replaced(kOffice, "Letter", "Legal"));  // not what was saved
  startEffects(false);
  EXPECT_EQ(rollbackQueues(0), 0);
  EXPECT_EQ(host.ppd("Office"), moved);
}

std::vector<std::string> outcomesOf(const std::vector<ReportQueue>& queues) {
  std::vector<std::string> outcomes;
  for (const ReportQueue& q : queues) outcomes.push_back(toString(q.outcome, false));
  std::sort(outcomes.begin(), outcomes.end());
  return outcomes;
}

// Asked queue by queue: "all" answers for the queues after it, and a break
// keeps every queue not yet asked, in an update and in a rollback.
TEST(QueueUpdate, TheAnswersDecideWhichQueuesMove) {
  QueueHost host;
  for (const char* name : {"A", "B", "C"}) host.queue(name, kOffice);
  writeWhole(host / "answers", "n\ntodos\nb\n");
  ASSERT_NE(std::freopen((host / "answers").c_str(), "r", stdin), nullptr);
  EXPECT_EQ(outcomesOf(host.update(false, 1)), (std::vector<std::string>{"kept", "updated", "updated"}));
  startEffects(false);
  runReport().start(RunKind::Rollback);
  RecordingRunner restarts;
  EXPECT_EQ(rollbackQueues(1), 0);
  EXPECT_EQ(outcomesOf(runReport().queues()), (std::vector<std::string>{"kept", "kept"}));
}

}  // namespace
