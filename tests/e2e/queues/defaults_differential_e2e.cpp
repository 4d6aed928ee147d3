// The update's carry-over of option defaults against the scheduler's own (a
// bare lpadmin -m), option by option, over the product's PPDs and a fixed
// sample of real PPDs of Debian's PPD packages relabelled as product models.
// Two hosts get the same queues, set to the same seeded random choices: one
// runs setup, its twin moves each queue with lpadmin -m. Heavy: it fetches the
// sample once into the build tree and prints a page through every queue.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

#include "e2e/e2e_support.h"
#include "sandbox/real_ppd_sample.h"

// The PPD API of libcups is deprecated but is the reader the scheduler uses.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/file.h>
#include <cups/ppd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Defaults = std::map<std::string, std::string>;  // option keyword -> default choice

const fs::path kSourceTree = fs::path(__FILE__).parent_path() / "../../..";
const fs::path kCache = fs::path(DIST_DIR).parent_path() / "real-ppds";
const std::string kTree = "/srv/mivo";
const std::string kModelDir = "/usr/share/ppd/orv";
constexpr unsigned kSeed = 20240611;

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

// A directory of this machine for the PPD texts that libcups reads.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "defaults-differential-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  PpdPtr open(const std::string& text) {
    const fs::path file = path_ / ("ppd" + std::to_string(++count_));
    std::ofstream(file, std::ios::binary) << text;
    return PpdPtr(ppdOpenFile(file.c_str()));
  }

 private:
  fs::path path_;
  int count_ = 0;
};

std::string quoted(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A file through libcups, so the distribution tree's gzip-compressed PPDs read as text.
std::string cupsFileText(const std::string& path) {
  std::unique_ptr<cups_file_t, int (*)(cups_file_t*)> file(cupsFileOpen(path.c_str(), "r"), cupsFileClose);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::string text;
  char buffer[8192];
  for (ssize_t got; (got = cupsFileRead(file.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

Defaults defaultsOf(ppd_file_t* ppd) {
  Defaults defaults;
  for (ppd_option_t* option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd))
    defaults[option->keyword] = option->defchoice;
  return defaults;
}

bool offers(ppd_file_t* ppd, const std::string& option, const std::string& choice) {
  return ppdFindChoice(ppdFindOption(ppd, option.c_str()), choice.c_str()) != nullptr;
}

// What a PPD text tells about its option keywords beyond what libcups keeps.
struct PpdTraits {
  std::set<std::string> commented;  // options of a commented-out block or default line
  std::set<std::string> respelled;  // options whose *Default keyword is spelled otherwise (lower case)
  bool crLf = false;
};

std::string keywordAt(const std::string& line, size_t at) {
  size_t end = line.find_first_of("/: \t", at);
  return line.substr(at, (end == std::string::npos ? line.size() : end) - at);
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

PpdTraits traitsOf(const std::string& text) {
  PpdTraits traits;
  traits.crLf = text.find("\r\n") != std::string::npos;
  std::set<std::string> options, defaults;
  for (const std::string& line : linesOf(ppdtext::withoutCr(text))) {
    bool comment = line.starts_with("*%");
    size_t open = line.find("OpenUI"), fallback = line.find("*Default");
    if (open != std::string::npos && line.find('*', open) != std::string::npos) {
      std::string option = keywordAt(line, line.find('*', open) + 1);
      (comment ? traits.commented : options).insert(option);
    } else if (fallback != std::string::npos) {
      std::string option = keywordAt(line, fallback + 8);
      (comment ? traits.commented : defaults).insert(option);
    }
  }
  std::set<std::string> lowerOptions;
  for (const std::string& option : options) lowerOptions.insert(lowered(option));
  for (const std::string& spelled : defaults)
    if (!options.contains(spelled) && lowerOptions.contains(lowered(spelled)))
      traits.respelled.insert(lowered(spelled));
  return traits;
}

// One queue of the run: its sample, its PPD pair and the settings it gets before the update.
struct Queue {
  RealPpdSample sample;
  PpdPair pair;
  std::map<std::string, std::string> settings;
  PpdTraits oldTraits, newTraits;
};

// The sample's own settings of its queue, each checked against the old PPD.
std::map<std::string, std::string> sampleSettings(const Queue& queue, ppd_file_t* old) {
  std::map<std::string, std::string> settings;
  for (const PpdEdit& edit : queue.sample.queueEdits()) {
    if (edit.op == "set") {
      if (!offers(old, edit.args.at(0), edit.args.at(1)))
        throw std::runtime_error(queue.sample.name + ": the old PPD has no " + edit.args[0] + " " + edit.args[1]);
      settings[edit.args[0]] = edit.args[1];
    } else if (edit.op == "custom") {
      if (!old->variable_sizes) throw std::runtime_error(queue.sample.name + ": no custom page sizes");
      settings["PageSize"] = "Custom." + edit.args.at(0) + "x" + edit.args.at(1);
    }
  }
  return settings;
}

// The options ppdConflicts found in conflict, with their marked choices.
std::string conflicted(ppd_file_t* ppd) {
  std::string list;
  for (ppd_option_t* option = ppdFirstOption(ppd); option; option = ppdNextOption(ppd))
    if (option->conflicted)
      if (ppd_choice_t* marked = ppdFindMarkedChoice(ppd, option->keyword))
        list += std::string(" ") + option->keyword + "=" + marked->choice;
  return list;
}

// Marks a choice in the old PPD and, where it offers it, in the new one.
void markInBoth(ppd_file_t* old, ppd_file_t* fresh, const std::string& option, const std::string& choice) {
  ppdMarkOption(old, option.c_str(), choice.c_str());
  if (offers(fresh, option, choice)) ppdMarkOption(fresh, option.c_str(), choice.c_str());
}

// Marking one option can unmark another (ManualFeed True clears InputSlot), and
// lpadmin writes only what stays marked: drops the random settings that do not.
void dropUnmarked(const Queue& queue, ppd_file_t* old, std::map<std::string, std::string>& settings) {
  const std::map<std::string, std::string> own = sampleSettings(queue, old);
  for (bool dropped = true; dropped;) {
    dropped = false;
    ppdMarkDefaults(old);
    for (const auto& [option, choice] : settings) ppdMarkOption(old, option.c_str(), choice.c_str());
    for (auto at = settings.begin(); at != settings.end() && !dropped; ++at) {
      ppd_choice_t* marked = ppdFindMarkedChoice(old, at->first.c_str());
      if (marked && (marked->choice == at->second || at->second.starts_with(std::string(marked->choice) + ".")))
        continue;
      if (own.contains(at->first))
        throw std::runtime_error(queue.sample.name + ": " + at->first + " does not stay set");
      settings.erase(at), dropped = true;
    }
  }
}

// The sample's settings, then seeded random non-default choices for three
// options in four, none that adds a conflict to the old PPD or to the new one
// carrying the old defaults, as the scheduler's move makes it.
std::map<std::string, std::string> chooseSettings(const Queue& queue, ppd_file_t* old, ppd_file_t* fresh,
                                                  std::mt19937& random) {
  std::set<std::string> keep;
  for (const PpdEdit& edit : queue.sample.queueEdits())
    if (edit.op == "keep") keep.insert(edit.args.at(0));
  ppdMarkDefaults(old), ppdMarkDefaults(fresh);
  for (ppd_option_t* option = ppdFirstOption(old); option; option = ppdNextOption(old))
    markInBoth(old, fresh, option->keyword, option->defchoice);
  const int oldConflicts = ppdConflicts(old), newConflicts = ppdConflicts(fresh);
  std::map<std::string, std::string> settings = sampleSettings(queue, old);
  for (const auto& [option, choice] : settings)
    if (!choice.starts_with("Custom.")) markInBoth(old, fresh, option, choice);
  if (ppdConflicts(old) > oldConflicts || ppdConflicts(fresh) > newConflicts)
    throw std::runtime_error(queue.sample.name + ": the sample's settings conflict:" + conflicted(old) + " /" +
                             conflicted(fresh));
  std::bernoulli_distribution setIt(0.75);
  for (ppd_option_t* option = ppdFirstOption(old); option; option = ppdNextOption(old)) {
    std::vector<std::string> others;
    for (int c = 0; c < option->num_choices; ++c) {
      const std::string choice = option->choices[c].choice;
      if (choice != option->defchoice && choice != "Custom") others.push_back(choice);
    }
    const std::string keyword = option->keyword;
    // lpadmin keeps a PickMany default marked beside a new choice, so which one
    // it writes is not ours to pick: those queues differ by the old PPD's default.
    if (keyword == "PageRegion" || option->ui == PPD_UI_PICKMANY || keep.contains(keyword) ||
        settings.contains(keyword) || others.empty() || !setIt(random))
      continue;
    const std::string choice = others[std::uniform_int_distribution<size_t>(0, others.size() - 1)(random)];
    markInBoth(old, fresh, keyword, choice);
    if (ppdConflicts(old) > oldConflicts || ppdConflicts(fresh) > newConflicts) {
      markInBoth(old, fresh, keyword, option->defchoice);
      if (ppd_option_t* own = ppdFindOption(fresh, keyword.c_str()); own && !offers(fresh, keyword, option->defchoice))
        ppdMarkOption(fresh, keyword.c_str(), own->defchoice);
      continue;
    }
    settings[keyword] = choice;
  }
  dropUnmarked(queue, old, settings);
  return settings;
}

std::string createQueuesScript(const std::vector<Queue>& queues) {
  std::string script;
  for (const Queue& queue : queues) {
    const std::string& name = queue.sample.name;
    script += "lpadmin -p " + name + " -E -v file:///dev/null -P /srv/old/" + name +
              ".ppd -o printer-error-policy=abort-job 2>/dev/null || echo create " + name + "\n";
    std::string options;
    for (const auto& [option, choice] : queue.settings) options += " -o " + quoted(option + "=" + choice);
    if (!options.empty()) script += "lpadmin -p " + name + options + " || echo options " + name + "\n";
  }
  return script;
}

// The same queues on a host: the old PPDs, a file device, the scheduler.
void layOutQueues(SandboxHost& host, const std::vector<Queue>& queues) {
  for (const Queue& queue : queues) host.write("/srv/old/" + queue.sample.name + ".ppd", queue.pair.oldText);
  host.write("/etc/cups/cups-files.conf", host.read("/etc/cups/cups-files.conf") + "\nFileDevice Yes\n");
  ASSERT_EQ(host.sh("sed -i 's/^LogLevel .*/LogLevel info/' /etc/cups/cupsd.conf").status, 0);
  host.startCups();
  SandboxResult created = host.sh(createQueuesScript(queues), {.timeout = std::chrono::seconds(240)});
  ASSERT_EQ(created.out, "") << created.err;
}

// The new PPDs at `dir` of a host, the gzip-compressed ones compressed there.
void placeNewPpds(SandboxHost& host, const std::vector<Queue>& queues, const std::string& dir) {
  std::string compress = "true";
  for (const Queue& queue : queues) {
    host.write(dir + "/" + queue.sample.name + ".ppd", queue.pair.newText);
    if (queue.sample.shipsGzipped()) compress += " && gzip -9n " + dir + "/" + queue.sample.name + ".ppd";
  }
  ASSERT_EQ(host.sh(compress).status, 0);
}

// The distribution tree: the built program, and a manifest listing our new PPDs.
void layOutTree(SandboxHost& host, const std::vector<Queue>& queues) {
  host.copyIn(std::string(DIST_DIR) + "/bin", kTree + "/bin");
  host.copyIn(std::string(DIST_DIR) + "/etc/mivo4.0.png", kTree + "/etc/mivo4.0.png");
  std::string manifest;
  for (const std::string& line : linesOf(machineText(std::string(DIST_DIR) + "/etc/MIVOINST.CONF")))
    if (!line.starts_with("ppd/")) manifest += line + "\n";
  for (const Queue& queue : queues) {
    const std::string file = queue.sample.newFileName();
    manifest += "ppd/" + file + " ? 00644\nppd/" + file + " ./ppd 00644\n";
  }
  host.write(kTree + "/etc/MIVOINST.CONF", manifest);
  placeNewPpds(host, queues, kTree + "/ppd");
}

// cupstestppd inside the host on each listed file: "" where it passes, else its first complaints.
std::map<std::string, std::string> cupstestppdFailures(SandboxHost& host, const std::vector<std::string>& files) {
  std::string script;
  for (const std::string& file : files)
    script += "out=$(cupstestppd " + quoted(file) +
              " 2>&1) || { echo \"$out\" | grep -m 3 -E 'FAIL|WARN|Unable' | tr -s ' \\n' ' '; echo; }\n"
              "echo =\n";
  std::map<std::string, std::string> failures;
  size_t at = 0;
  for (const std::string& line : linesOf(host.sh(script, {.timeout = std::chrono::seconds(120)}).out)) {
    if (line == "=")
      ++at;
    else if (at < files.size())
      failures[files[at]] += line.empty() ? "failed" : line;
  }
  return failures;
}

// One page of text: cheap enough to render through every queue on two cores.
const std::string kTestPage =
    "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
    "/Helvetica findfont 24 scalefont setfont 72 700 moveto (Test page) show\n"
    "72 680 moveto 468 0 rlineto stroke showpage\n%%EOF\n";

// Prints the test page through each queue and tells whose jobs completed.
// A filter error stops a job rather than ending it, so the wait is over when
// every job has its last word in the log.
std::set<std::string> printTestPages(SandboxHost& host, const std::vector<std::string>& queues) {
  host.write("/srv/testpage.ps", kTestPage);
  std::string script =
      "for i in $(seq 1 100); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.1; done\nn=0\n";
  for (const std::string& queue : queues)
    script += "id=$(lp -d " + queue +
              " /srv/testpage.ps 2>/dev/null | sed -n 's/^request id is \\([^ ]*\\).*/\\1/p')\n"
              "[ -n \"$id\" ] && echo \"$id\" && n=$((n + 1))\n";
  script +=
      "for i in $(seq 1 600); do\n"
      "  [ \"$(grep -cE '\\] Job (completed|stopped|aborted|canceled)' /var/log/cups/error_log)\" -ge $n ] && break\n"
      "  sleep 0.2\n"
      "done\n"
      "sed -n 's/.*\\[Job \\([0-9]*\\)\\] Job completed\\..*/completed \\1/p' /var/log/cups/error_log\n";
  std::set<std::string> jobsDone, queuesDone;
  std::map<std::string, std::string> queueOfJob;
  for (const std::string& line : linesOf(host.sh(script, {.timeout = std::chrono::seconds(180)}).out)) {
    if (line.starts_with("completed ")) {
      jobsDone.insert(line.substr(10));
    } else if (size_t dash = line.rfind('-'); dash != std::string::npos) {
      queueOfJob[line.substr(dash + 1)] = line.substr(0, dash);
    }
  }
  for (const auto& [job, queue] : queueOfJob)
    if (jobsDone.contains(job)) queuesDone.insert(queue);
  return queuesDone;
}

// ---- the comparison ----

enum class Verdict { Agree, SchedulerKeepsOnly, SetupKeepsOnly, BothChangeDifferently, OnlyInOne };
const std::vector<std::pair<Verdict, std::string>> kVerdicts = {
    {Verdict::Agree, "agree"},
    {Verdict::SchedulerKeepsOnly, "scheduler keeps, setup not"},
    {Verdict::SetupKeepsOnly, "setup keeps, scheduler not"},
    {Verdict::BothChangeDifferently, "both change, differently"},
    {Verdict::OnlyInOne, "option in one result only"}};
const std::vector<std::string> kFeatures = {"CR LF line ends",    "commented-out block", "keyword case",
                                            "JCL option",         "custom page size",    "option new in new PPD",
                                            "choice gone in new", "plain option"};

struct OptionOutcome {
  std::string queue, option, queueValue, scheduler, setup, feature;
  Verdict verdict;
};

std::string featureOf(const Queue& queue, ppd_file_t* scheduler, const std::string& option, bool respelledOption,
                      const std::string& queueValue) {
  const std::string lower = lowered(option);
  ppd_option_t* found = ppdFindOption(scheduler, option.c_str());
  if (queue.newTraits.crLf) return kFeatures[0];
  if (queue.oldTraits.commented.contains(option) || queue.newTraits.commented.contains(option)) return kFeatures[1];
  if (respelledOption || queue.oldTraits.respelled.contains(lower) || queue.newTraits.respelled.contains(lower))
    return kFeatures[2];
  if (found && found->section == PPD_ORDER_JCL) return kFeatures[3];
  if (queueValue.starts_with("Custom.")) return kFeatures[4];
  if (queueValue.empty()) return kFeatures[5];
  if (found && !ppdFindChoice(found, queueValue.c_str())) return kFeatures[6];
  return kFeatures[7];
}

Verdict verdictOf(const std::string& queueValue, const std::string* scheduler, const std::string* setup) {
  if (!scheduler || !setup) return Verdict::OnlyInOne;
  if (*scheduler == *setup) return Verdict::Agree;
  if (*scheduler == queueValue) return Verdict::SchedulerKeepsOnly;
  if (*setup == queueValue) return Verdict::SetupKeepsOnly;
  return Verdict::BothChangeDifferently;
}

std::vector<OptionOutcome> compareQueue(const Queue& queue, const Defaults& before, ppd_file_t* scheduler,
                                        const Defaults& theirs, const Defaults& ours) {
  std::set<std::string> options;
  for (const auto& [option, value] : theirs) options.insert(option);
  for (const auto& [option, value] : ours) options.insert(option);
  std::vector<OptionOutcome> outcomes;
  for (const std::string& option : options) {
    // The queue's value under the option's keyword as the scheduler matches it, case aside.
    auto at = std::find_if(before.begin(), before.end(),
                           [&](const auto& entry) { return lowered(entry.first) == lowered(option); });
    auto s = theirs.find(option), o = ours.find(option);
    const std::string queueValue = at == before.end() ? "" : at->second;
    const bool respelled = at != before.end() && at->first != option;
    const std::string* schedulerValue = s == theirs.end() ? nullptr : &s->second;
    const std::string* setupValue = o == ours.end() ? nullptr : &o->second;
    outcomes.push_back({queue.sample.name, option, queueValue, schedulerValue ? *schedulerValue : "(none)",
                        setupValue ? *setupValue : "(none)", featureOf(queue, scheduler, option, respelled, queueValue),
                        verdictOf(queueValue, schedulerValue, setupValue)});
  }
  return outcomes;
}

// ---- the summary ----

struct Comparison {
  std::vector<OptionOutcome> outcomes;
  std::vector<std::string> unreadable, withNul;  // setup's results
};

struct Figures {
  int sourcesPassing = 0, oursPassing = 0, theirsPassing = 0;  // cupstestppd
  size_t printed = 0, printedByTwinOnly = 0, notPrinted = 0;
  std::vector<std::pair<std::string, double>> seconds;
};

void writeTable(std::ostream& out, const std::vector<OptionOutcome>& outcomes) {
  std::map<std::string, std::map<Verdict, int>> table;
  for (const OptionOutcome& outcome : outcomes)
    ++table[outcome.feature][outcome.verdict], ++table["all"][outcome.verdict];
  out << "| option | compared";
  for (const auto& [verdict, label] : kVerdicts) out << " | " << label;
  out << " |\n|---|--:|--:|--:|--:|--:|--:|\n";
  std::vector<std::string> rows = kFeatures;
  rows.push_back("all");
  for (const std::string& row : rows) {
    int compared = 0;
    for (const auto& [verdict, label] : kVerdicts) compared += table[row][verdict];
    out << "| " << row << " | " << compared;
    for (const auto& [verdict, label] : kVerdicts) out << " | " << table[row][verdict];
    out << " |\n";
  }
}

std::string summaryOf(const std::vector<Queue>& queues, const Comparison& comparison, const Figures& figures) {
  int real = 0, crLf = 0, gzipped = 0, settings = 0;
  for (const Queue& queue : queues)
    real += !queue.sample.isProduct(), crLf += queue.newTraits.crLf, gzipped += queue.sample.shipsGzipped(),
        settings += static_cast<int>(queue.settings.size());
  std::ostringstream out;
  out << std::fixed << std::setprecision(1) << "\nPPDs: " << queues.size() << " (" << queues.size() - real
      << " product, " << real << " real; " << crLf << " new with CR LF, " << gzipped << " new gzip-compressed)"
      << "; queues: " << queues.size() << " on each host, " << settings << " non-default settings"
      << "; options compared: " << comparison.outcomes.size() << "\n\n";
  writeTable(out, comparison.outcomes);
  out << "\nsetup's results libcups cannot read: " << comparison.unreadable.size()
      << "; with NUL bytes: " << comparison.withNul.size() << "\ncupstestppd: " << figures.sourcesPassing << " of "
      << queues.size() << " new PPDs pass; of their queues' results, the scheduler's pass " << figures.theirsPassing
      << ", setup's " << figures.oursPassing << "\ntest pages completed through setup's queues: " << figures.printed
      << " of " << queues.size() << "; of the " << figures.notPrinted << " others, " << figures.printedByTwinOnly
      << " through the scheduler's\nseconds:";
  double all = 0;
  for (const auto& [phase, seconds] : figures.seconds) out << " " << phase << " " << seconds << ";", all += seconds;
  out << " all " << all << "\n";
  std::set<std::pair<std::string, Verdict>> shown;
  for (const OptionOutcome& outcome : comparison.outcomes)
    if (outcome.verdict != Verdict::Agree && shown.insert({outcome.feature, outcome.verdict}).second)
      out << "  e.g. " << outcome.feature << ", " << kVerdicts[static_cast<int>(outcome.verdict)].second << ": "
          << outcome.queue << " " << outcome.option << ", queue " << outcome.queueValue << ", scheduler "
          << outcome.scheduler << ", setup " << outcome.setup << "\n";
  return out.str();
}

std::string listOf(const std::vector<OptionOutcome>& outcomes, Verdict verdict) {
  std::string list;
  for (const OptionOutcome& outcome : outcomes)
    if (outcome.verdict == verdict)
      list += "\n  " + outcome.queue + " " + outcome.option + ": queue " + outcome.queueValue + ", scheduler " +
              outcome.scheduler + ", setup " + outcome.setup + " (" + outcome.feature + ")";
  return list;
}

// ---- the fixture ----

class DefaultsDifferentialHeavyE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    const std::string fetch = (kSourceTree / "scripts/fetch-real-ppds").string() + " " + quoted(kCache.string());
    ASSERT_EQ(std::system(fetch.c_str()), 0) << "fetching the real PPDs failed: " << fetch;
    twin = std::make_unique<SandboxHost>();
  }

  std::vector<Queue> loadQueues() {
    std::vector<Queue> queues;
    std::mt19937 random(kSeed);
    for (const RealPpdSample& sample :
         readSampleList((kSourceTree / "tests/fixtures/real-ppds/samples.tsv").string())) {
      Queue queue{sample, {}, {}, {}, {}};
      if (sample.isProduct()) {
        std::string file = fs::path(sample.path).filename().string();
        if (file.ends_with(".gz")) file.resize(file.size() - 3);
        const fs::path oldCopy = kSourceTree / "tests/fixtures/ppd-old" / file;
        std::string base = cupsFileText(std::string(DIST_DIR) + "/" + sample.path);
        queue.pair = makePair(sample, base, fs::exists(oldCopy) ? machineText(oldCopy.string()) : "");
      } else {
        queue.pair = makePair(sample, machineText((kCache / "ppd" / sample.package / sample.path).string()));
      }
      PpdPtr old = scratch.open(queue.pair.oldText), fresh = scratch.open(queue.pair.newText);
      if (!old || !fresh) throw std::runtime_error(sample.name + ": libcups cannot read the pair");
      queue.settings = chooseSettings(queue, old.get(), fresh.get(), random);
      queue.oldTraits = traitsOf(queue.pair.oldText);
      queue.newTraits = traitsOf(queue.pair.newText);
      queues.push_back(std::move(queue));
    }
    return queues;
  }

  // Each queue's defaults before the update, checked against what it was set to.
  std::map<std::string, Defaults> queueDefaults(const std::vector<Queue>& queues) {
    std::map<std::string, Defaults> before;
    for (const Queue& queue : queues) {
      PpdPtr ppd = scratch.open(host->read("/etc/cups/ppd/" + queue.sample.name + ".ppd"));
      if (!ppd) throw std::runtime_error(queue.sample.name + ": the queue's PPD does not read");
      before[queue.sample.name] = defaultsOf(ppd.get());
      for (const auto& [option, choice] : queue.settings)
        EXPECT_EQ(before[queue.sample.name][option], choice) << queue.sample.name << " was not set up";
    }
    return before;
  }

  // Ours: setup from a distribution tree shipping the new PPDs. Theirs: the
  // scheduler's own move of each queue to the same new PPD.
  void moveQueues(const std::vector<Queue>& queues) {
    layOutTree(*host, queues);
    SandboxResult run = host->run({"./bin/setup"}, {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = kTree});
    EXPECT_EQ(run.status, 0) << run.err;
    placeNewPpds(*twin, queues, kModelDir);
    const std::string models = twin->sh("lpinfo -m").out;
    std::string move;
    for (const Queue& queue : queues) {
      const std::string model = "lsb/usr/orv/" + queue.sample.newFileName();
      EXPECT_NE(models.find(model + " "), std::string::npos) << model << " is not listed by lpinfo -m";
      move += "lpadmin -p " + queue.sample.name + " -m " + model + " || echo " + queue.sample.name + "\n";
    }
    EXPECT_EQ(twin->sh(move, {.timeout = std::chrono::seconds(120)}).out, "");
  }

  // Option by option, as libcups reads each resulting PPD.
  Comparison compareResults(const std::vector<Queue>& queues, const std::map<std::string, Defaults>& before) {
    Comparison comparison;
    for (const Queue& queue : queues) {
      const std::string& name = queue.sample.name;
      const std::string oursText = host->read("/etc/cups/ppd/" + name + ".ppd");
      const std::string theirsText = twin->read("/etc/cups/ppd/" + name + ".ppd");
      EXPECT_NE(oursText.find(copyMark("new")), std::string::npos) << name << ": setup left the queue's old PPD";
      EXPECT_NE(theirsText.find(copyMark("new")), std::string::npos) << name << ": lpadmin -m left the old PPD";
      if (oursText.find('\0') != std::string::npos) comparison.withNul.push_back(name);
      PpdPtr ours = scratch.open(oursText), theirs = scratch.open(theirsText);
      if (!theirs) throw std::runtime_error(name + ": the scheduler's result does not read");
      if (!ours) {
        comparison.unreadable.push_back(name);
        continue;
      }
      for (OptionOutcome& outcome :
           compareQueue(queue, before.at(name), theirs.get(), defaultsOf(theirs.get()), defaultsOf(ours.get())))
        comparison.outcomes.push_back(outcome);
    }
    return comparison;
  }

  // cupstestppd on the sources, and on each result whose source passes. The
  // scheduler's own result fails where a custom page size is the default, so
  // setup's has to pass where the scheduler's does.
  void checkCupstestppd(const std::vector<Queue>& queues, Figures& figures) {
    std::vector<std::string> sources, results;
    for (const Queue& queue : queues) {
      sources.push_back(kTree + "/ppd/" + queue.sample.newFileName());
      results.push_back("/etc/cups/ppd/" + queue.sample.name + ".ppd");
    }
    std::map<std::string, std::string> sourceFails = cupstestppdFailures(*host, sources);
    std::map<std::string, std::string> oursFail = cupstestppdFailures(*host, results);
    std::map<std::string, std::string> theirsFail = cupstestppdFailures(*twin, results);
    for (size_t i = 0; i < queues.size(); ++i) {
      if (sourceFails.contains(sources[i])) continue;
      const bool ours = !oursFail.contains(results[i]), theirs = !theirsFail.contains(results[i]);
      ++figures.sourcesPassing, figures.oursPassing += ours, figures.theirsPassing += theirs;
      EXPECT_TRUE(ours || !theirs) << queues[i].sample.name << ": setup's result fails cupstestppd, the "
                                   << "scheduler's passes: " << oursFail[results[i]];
      if (!theirs) std::cout << queues[i].sample.name << ", the scheduler's result: " << theirsFail[results[i]] << "\n";
    }
  }

  // A test page through every queue of ours; where one does not complete, the
  // scheduler's twin tells whether the new PPD prints at all here.
  void checkTestPages(const std::vector<Queue>& queues, Figures& figures) {
    std::vector<std::string> names, notPrinted;
    for (const Queue& queue : queues) names.push_back(queue.sample.name);
    std::set<std::string> printed = printTestPages(*host, names);
    for (const std::string& name : names)
      if (!printed.contains(name)) notPrinted.push_back(name);
    std::set<std::string> twinPrinted =
        notPrinted.empty() ? std::set<std::string>{} : printTestPages(*twin, notPrinted);
    for (const std::string& name : notPrinted)
      EXPECT_FALSE(twinPrinted.contains(name)) << name << ": the test page prints through the scheduler's queue only";
    figures.printed = printed.size(), figures.notPrinted = notPrinted.size();
    figures.printedByTwinOnly = twinPrinted.size();
  }

  std::unique_ptr<SandboxHost> twin;  // the scheduler's host
  ScratchDir scratch;
};

TEST_F(DefaultsDifferentialHeavyE2E, SetupKeepsExactlyTheDefaultsTheSchedulerKeeps) {
  Figures figures;
  auto lap = [&figures, last = Clock::now()](const std::string& phase) mutable {
    const auto now = Clock::now();
    figures.seconds.emplace_back(phase, std::chrono::duration<double>(now - last).count());
    last = now;
  };
  const std::vector<Queue> queues = loadQueues();
  layOutQueues(*host, queues);
  layOutQueues(*twin, queues);
  if (HasFatalFailure()) return;
  const std::map<std::string, Defaults> before = queueDefaults(queues);
  lap("queues");
  moveQueues(queues);
  lap("moves");
  const Comparison comparison = compareResults(queues, before);
  checkCupstestppd(queues, figures);
  lap("comparison and cupstestppd");
  checkTestPages(queues, figures);
  lap("test pages");
  std::cout << summaryOf(queues, comparison, figures);

  const std::vector<OptionOutcome>& outcomes = comparison.outcomes;
  EXPECT_EQ(listOf(outcomes, Verdict::SchedulerKeepsOnly), "") << "defaults the scheduler keeps and setup drops";
  EXPECT_EQ(listOf(outcomes, Verdict::SetupKeepsOnly), "") << "defaults setup keeps and the scheduler drops";
  EXPECT_EQ(listOf(outcomes, Verdict::BothChangeDifferently), "") << "defaults both change, to different choices";
  EXPECT_EQ(listOf(outcomes, Verdict::OnlyInOne), "") << "options in one result only";
  EXPECT_EQ(comparison.unreadable, std::vector<std::string>{}) << "setup's results that libcups cannot read";
  EXPECT_EQ(comparison.withNul, std::vector<std::string>{}) << "setup's results holding NUL bytes";
}

}  // namespace
