// The program under faults: an update and a new installation, each failed with
// ENOSPC or EIO at one write-like call or killed whole at one, and filled up
// for real by small file systems. After every faulted run each queue PPD,
// backup and installed file is whole, old or new; a fault-free run then
// brings the host to what a run without faults leaves, with no temporaries.
//
// By default a fixed sample of call numbers spread over the run; with
// FAULT_SWEEP=full every call number in each mode (scripts/fault-sweep), with
// FAULT_SWEEP=K every Kth.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>

#include <nlohmann/json.hpp>

#include "fault_scenario.h"

namespace {

constexpr int kSamplesPerMode = 8;
constexpr size_t kSpareBytes = 4096;  // one page beyond what a small tmpfs already holds

// One faulted run: the tracer's words for an error or a kill at a call, or a small tmpfs on a directory.
struct Trial {
  std::string label;
  std::vector<std::string> tracerArgs;
  std::string smallTmpfs;
};

// FIGURES|kind|calls|faults|kills|then the findings of each kind (scripts/fault-sweep).
void printFigures(const std::string& kind, long calls, int faults, int kills, const Verdict& all) {
  std::cout << "FIGURES|" << kind << "|" << calls << "|" << faults << "|" << kills;
  for (const std::string& finding : kFindingKinds)
    std::cout << "|" << std::count_if(all.begin(), all.end(), [&](const std::string& f) { return f.starts_with(finding + ":"); });
  std::cout << std::endl;
}

void append(Verdict& to, const Verdict& from) { to.insert(to.end(), from.begin(), from.end()); }

// FAULT_SWEEP=full tries every call number, FAULT_SWEEP=K every Kth; 0: the sample.
long sweepStride() {
  const char* sweep = std::getenv("FAULT_SWEEP");
  if (sweep == nullptr) return 0;
  if (std::string(sweep) == "full") return 1;
  return std::max(0L, std::atol(sweep));
}

// Every stride-th call number, or, without FAULT_SWEEP, one in each of
// kSamplesPerMode equal stretches of 1..total, the same every time for a seed.
std::vector<long> callsToTry(long total, unsigned seed) {
  std::vector<long> calls;
  if (const long stride = sweepStride(); stride > 0) {
    for (long call = 1; call <= total; call += stride) calls.push_back(call);
    return calls;
  }
  std::mt19937 random(seed);
  for (int i = 0; i < kSamplesPerMode && total > 0; ++i) {
    long low = 1 + total * i / kSamplesPerMode, high = total * (i + 1) / kSamplesPerMode;
    if (high >= low) calls.push_back(low + static_cast<long>(random() % static_cast<unsigned long>(high - low + 1)));
  }
  return calls;
}

std::vector<Trial> plan(long total, const std::string& ppdDir) {
  std::vector<Trial> trials;
  for (const auto& [seed, error] : {std::pair{1u, "ENOSPC"}, {2u, "EIO"}})
    for (long call : callsToTry(total, seed))
      trials.push_back({error + (" at call " + std::to_string(call)), {"--fail", std::to_string(call), "--errno", error}, ""});
  for (long call : callsToTry(total, 3))
    trials.push_back({"kill at call " + std::to_string(call), {"--kill", std::to_string(call)}, ""});
  for (const std::string& dir : {ppdDir, std::string("/etc/cups/ppd"), std::string("/tmp")})
    trials.push_back({"small tmpfs on " + dir, {}, dir});
  return trials;
}

struct Reference {
  long calls = 0;
  std::string ppdDir;
  HostState after;
};

struct Outcome {
  Verdict verdict;
  Fault fault;
};

// The host the trials run on, with its files as they were before any run.
struct TrialHost {
  std::unique_ptr<FaultHost> host;
  HostState before;
};

class FaultInjectionHeavyE2E : public ::testing::TestWithParam<RunKind> {
 protected:
  void SetUp() override {
    std::string why;
    if (!SandboxHost::available(&why)) GTEST_SKIP() << "no sandboxed host: " << why;
  }

  // A fault-free run, counted, on a host of its own.
  static Reference referenceRun(RunKind kind) {
    FaultHost host(kind);
    SandboxResult run = host.runSetup({"--count"});
    EXPECT_EQ(run.status, 0) << run.err;
    Reference reference{tracedCalls(run.err), loggedPpdDir(host.host()), {}};
    host.setPpdDir(reference.ppdDir);
    reference.after = host.capture();
    return reference;
  }

  static TrialHost layOutTrialHost(RunKind kind, const std::string& ppdDir) {
    TrialHost trialHost{std::make_unique<FaultHost>(kind), {}};
    if (kind == RunKind::Install) trialHost.host->setPpdDir(ppdDir);
    trialHost.before = trialHost.host->capture();
    trialHost.host->saveTrees();
    return trialHost;
  }

  // One faulted run and the fault-free run after it, judged; the host is put back first.
  static Outcome runTrial(const Trial& trial, TrialHost& trialHost, const Reference& reference) {
    FaultHost& host = *trialHost.host;
    host.restore();
    if (!trial.smallTmpfs.empty()) host.mountSmallTmpfs(trial.smallTmpfs, kSpareBytes);
    SandboxResult faulted = host.runSetup(trial.tracerArgs);
    Outcome outcome;
    outcome.fault = faultOf(faulted.err);
    outcome.verdict = judgeFaulted(trialHost.before, host.capture(), reference.after, outcome.fault);
    if (!trial.smallTmpfs.empty()) host.lift(trial.smallTmpfs);
    SandboxResult recovery = host.runSetup();
    Verdict recovered = judgeRecovered(host.capture(), reference.after);
    if (recovery.status != 0)
      recovered.push_back("not recovered: the fault-free run ended with " + std::to_string(recovery.status));
    append(outcome.verdict, recovered);
    return outcome;
  }

  // The trial, once more on a new host if its host was lost under it.
  static Outcome runTrialKeepingAHost(const Trial& trial, TrialHost& trialHost, const Reference& reference,
                                      RunKind kind) {
    for (int attempt = 1;; ++attempt) {
      try {
        return runTrial(trial, trialHost, reference);
      } catch (const HostLost&) {
        std::cout << "HOST LOST|" << kindName(kind) << "|" << trial.label << std::endl;
        if (attempt == 2) throw;
        trialHost = layOutTrialHost(kind, reference.ppdDir);
      }
    }
  }
};

TEST_P(FaultInjectionHeavyE2E, EveryFileStaysWholeAndTheNextRunRecovers) {
  const RunKind kind = GetParam();
  const auto started = std::chrono::steady_clock::now();
  const Reference reference = referenceRun(kind);
  ASSERT_GT(reference.calls, 0);
  ASSERT_FALSE(reference.ppdDir.empty());
  ASSERT_EQ(reference.after.queuePpds.size(), 3u);
  ASSERT_TRUE(reference.after.temporaries.empty()) << reference.after.temporaries.front();

  TrialHost trialHost = layOutTrialHost(kind, reference.ppdDir);
  ASSERT_EQ(trialHost.host->ppdDir(), reference.ppdDir);
  // Every queue moves: a queue PPD that a run leaves as it was is never mistaken for a new one.
  for (const auto& [path, old] : trialHost.before.queuePpds) ASSERT_NE(reference.after.queuePpds.at(path), old) << path;

  Verdict all;
  int faults = 0, kills = 0;
  const std::vector<Trial> trials = plan(reference.calls, reference.ppdDir);
  for (const Trial& trial : trials) {
    Outcome outcome;
    try {
      outcome = runTrialKeepingAHost(trial, trialHost, reference, kind);
    } catch (const std::exception& e) {
      outcome.verdict.push_back(std::string("not recovered: the trial broke off: ") + e.what());
    }
    const auto& [verdict, fault] = outcome;
    kills += fault.killed;
    faults += (!fault.line.empty() && !fault.killed) || !trial.smallTmpfs.empty();
    append(all, verdict);
    if (!verdict.empty()) std::cout << "TRIAL|" << kindName(kind) << "|" << trial.label << std::endl;
    EXPECT_TRUE(verdict.empty()) << kindName(kind) << ", " << trial.label << ":\n"
                                 << (fault.line.empty() ? "" : "  " + fault.line + "\n") << describe(verdict);
  }
  printFigures(kindName(kind), reference.calls, faults, kills, all);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::cout << kindName(kind) << ": " << trials.size() << " trials over " << reference.calls << " write-like calls in "
            << took.count() << " s" << std::endl;
}

// A power cut must not take back a step the run has done: each file it puts in
// place is on disk before its name, and its directory after. A disk that says
// it could not write the queues' new files back gets none of them in place.
TEST_P(FaultInjectionHeavyE2E, EveryFileIsOnDiskBeforeItsNameAndItsDirectoryAfter) {
  FaultHost host(GetParam());
  if (GetParam() == RunKind::Install) host.setPpdDir(referenceRun(RunKind::Install).ppdDir);
  host.saveTrees();
  const HostState before = host.capture();
  SandboxResult run = host.runSetup({"--count", "--list"});
  ASSERT_EQ(run.status, 0) << run.err;
  int renames = 0;
  std::vector<std::string> faults = unflushedRenames(run.err, renames);
  EXPECT_GE(renames, 6);  // three queue PPDs and their backups at least
  for (const std::string& fault : faults) ADD_FAILURE() << fault;

  const std::string syncfs = " syncfs ";
  size_t at = run.err.find(syncfs);
  ASSERT_NE(at, std::string::npos);
  size_t number = run.err.rfind('#', at) + 1;
  host.restore();
  std::string call = run.err.substr(number, run.err.find(' ', number) - number);
  SandboxResult failed = host.runSetup({"--fail", call, "--errno", "EIO"});
  EXPECT_EQ(host.capture().queuePpds, before.queuePpds) << failed.err;
  EXPECT_NE(host.host().read("/var/log/Mivo4.0_UpdateLog").find("no pudo escribir los ficheros nuevos"),
            std::string::npos);
}

// A read that fails anywhere in an update leaves each queue either moved with
// its defaults, as a run without faults moves it, or on its old PPD; the
// report says which, and so does the strict exit status.
TEST(ReadErrorsHeavyE2E, EachQueueEndsMovedWithItsDefaultsOrOnItsOldPpd) {
  std::string why;
  if (!SandboxHost::available(&why)) GTEST_SKIP() << "no sandboxed host: " << why;
  FaultHost host(RunKind::Update);
  host.saveTrees();
  const HostState before = host.capture();
  const std::vector<std::string> reads = {"--reads-under", "/etc/cups", "--reads-under", "/usr/share/ppd",
                                          "--reads-under", "/srv/mivo"};
  std::vector<std::string> count = reads;
  count.push_back("--count");
  long total = tracedCalls(host.runSetup(count, {"-x", "1"}).err);
  const HostState reference = host.capture();
  ASSERT_GT(total, 10);
  const std::map<std::string, int> statusOf = {{"ok", 0}, {"partial", 1}, {"aborted", 2}, {"refused", 2}};
  for (long call : callsToTry(total, 4)) {
    host.restore();
    std::vector<std::string> fail = reads;
    fail.insert(fail.end(), {"--fail", std::to_string(call), "--errno", "EIO"});
    SandboxResult run = host.runSetup(fail, {"-x", "1"});
    const HostState after = host.capture();
    nlohmann::json report = nlohmann::json::parse(host.host().read("/var/log/mivo/Mivo4.0_UpdateReport.json"));
    EXPECT_EQ(run.status, statusOf.at(report["outcome"])) << "read " << call;
    std::map<std::string, std::string> outcomes;
    for (const nlohmann::json& queue : report["queues"]) outcomes[queue["oldPpd"]] = queue["outcome"];
    for (const auto& [path, old] : before.queuePpds) {
      const std::string& now = after.queuePpds.at(path);
      bool moved = now == reference.queuePpds.at(path);
      EXPECT_TRUE(moved || now == old) << "read " << call << ": " << path << " is neither old nor moved as it should";
      EXPECT_EQ(outcomes[path] == "updated", moved) << "read " << call << ": " << path << " " << outcomes[path];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultInjectionHeavyE2E, ::testing::Values(RunKind::Update, RunKind::Install),
                         [](const ::testing::TestParamInfo<RunKind>& info) { return kindName(info.param); });

}  // namespace
