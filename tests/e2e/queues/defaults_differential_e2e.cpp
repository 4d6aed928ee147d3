// The update's carrying of option defaults against the scheduler's own (a
// bare lpadmin -m), option by option, over the product's PPDs and a fixed
// sample of real PPDs of Debian's PPD packages relabelled as product models
// (tests/fixtures/real-ppds/samples.tsv), PPDs without a final line feed and
// defaults stated again after their blocks among them. Two hosts get the same
// queues set to the same seeded random choices: one runs setup, its twin
// moves each queue with lpadmin -m. Heavy: it fetches the sample once.
#include <cstdio>

#include <filesystem>
#include <iostream>
#include <map>
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
using Defaults = std::map<std::string, std::string>;
using PpdPtr = std::unique_ptr<ppd_file_t, void (*)(ppd_file_t*)>;

const fs::path kCache = fs::path(DIST_DIR).parent_path() / "real-ppds";
constexpr unsigned kSeed = 20240611;

struct Queue {
  RealPpdSample sample;
  PpdPair pair;
  std::map<std::string, std::string> settings;
};

// libcups reads a text from a file of this machine (it reads by descriptor).
PpdPtr openPpd(const std::string& text) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
  if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return PpdPtr(nullptr, ppdClose);
  std::rewind(file.get());
  return PpdPtr(ppdOpen(file.get()), ppdClose);
}

std::string fileText(const std::string& path) {
  std::unique_ptr<cups_file_t, int (*)(cups_file_t*)> file(cupsFileOpen(path.c_str(), "r"), cupsFileClose);
  std::string text;
  char buffer[8192];
  for (ssize_t got; file && (got = cupsFileRead(file.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, got);
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

void markInBoth(ppd_file_t* old, ppd_file_t* fresh, const std::string& option, const std::string& choice) {
  ppdMarkOption(old, option.c_str(), choice.c_str());
  if (offers(fresh, option, choice)) ppdMarkOption(fresh, option.c_str(), choice.c_str());
}

// The sample's own settings, then seeded random other choices for three
// options in four, none adding a conflict to the old PPD or to the new one
// carrying the old defaults, and none that another marking unmarks.
std::map<std::string, std::string> chooseSettings(const RealPpdSample& sample, ppd_file_t* old, ppd_file_t* fresh,
                                                  std::mt19937& random) {
  std::map<std::string, std::string> settings;
  std::set<std::string> keep;
  for (const PpdEdit& edit : sample.queueEdits()) {
    if (edit.op == "keep") keep.insert(edit.args.at(0));
    if (edit.op == "set") settings[edit.args.at(0)] = edit.args.at(1);
    if (edit.op == "custom") settings["PageSize"] = "Custom." + edit.args.at(0) + "x" + edit.args.at(1);
  }
  ppdMarkDefaults(old), ppdMarkDefaults(fresh);
  for (ppd_option_t* option = ppdFirstOption(old); option; option = ppdNextOption(old))
    markInBoth(old, fresh, option->keyword, option->defchoice);
  for (const auto& [option, choice] : settings)
    if (!choice.starts_with("Custom.")) markInBoth(old, fresh, option, choice);
  const int oldConflicts = ppdConflicts(old), newConflicts = ppdConflicts(fresh);
  std::bernoulli_distribution setIt(0.75);
  for (ppd_option_t* option = ppdFirstOption(old); option; option = ppdNextOption(old)) {
    std::vector<std::string> others;
    for (int c = 0; c < option->num_choices; ++c)
      if (option->choices[c].choice != std::string(option->defchoice) && option->choices[c].choice != std::string("Custom"))
        others.push_back(option->choices[c].choice);
    const std::string keyword = option->keyword;
    // lpadmin keeps a PickMany default marked beside a new one: which it writes is not ours to pick.
    if (keyword == "PageRegion" || option->ui == PPD_UI_PICKMANY || keep.contains(keyword) ||
        settings.contains(keyword) || others.empty() || !setIt(random))
      continue;
    const std::string choice = others[std::uniform_int_distribution<size_t>(0, others.size() - 1)(random)];
    markInBoth(old, fresh, keyword, choice);
    if (ppdConflicts(old) > oldConflicts || ppdConflicts(fresh) > newConflicts) {
      markInBoth(old, fresh, keyword, option->defchoice);
      continue;
    }
    settings[keyword] = choice;
  }
  for (auto at = settings.begin(); at != settings.end();) {
    ppd_choice_t* marked = ppdFindMarkedChoice(old, at->first.c_str());
    bool stays = !marked || marked->choice == at->second || at->second.starts_with(std::string(marked->choice) + ".");
    at = stays ? std::next(at) : settings.erase(at);
  }
  return settings;
}

std::vector<Queue> loadQueues() {
  std::vector<Queue> queues;
  std::mt19937 random(kSeed);
  for (const RealPpdSample& sample : readSampleList(SOURCE_DIR "/tests/fixtures/real-ppds/samples.tsv")) {
    Queue queue{sample, {}, {}};
    if (sample.isProduct()) {
      std::string file = fs::path(sample.path).filename().string();
      if (file.ends_with(".gz")) file.resize(file.size() - 3);
      std::string old = sourceText("tests/fixtures/ppd-old/" + file);
      queue.pair = makePair(sample, fileText(std::string(DIST_DIR) + "/" + sample.path), old);
    } else {
      queue.pair = makePair(sample, fileText((kCache / "ppd" / sample.package / sample.path).string()));
    }
    PpdPtr old = openPpd(queue.pair.oldText), fresh = openPpd(queue.pair.newText);
    if (!old || !fresh) throw std::runtime_error(sample.name + ": libcups cannot read the pair");
    queue.settings = chooseSettings(sample, old.get(), fresh.get(), random);
    queues.push_back(std::move(queue));
  }
  return queues;
}

// The queues on a host: their old PPDs, their settings, a file device.
void layOutQueues(SandboxHost& host, const std::vector<Queue>& queues) {
  std::string script;
  for (const Queue& q : queues) {
    host.write("/srv/old/" + q.sample.name + ".ppd", q.pair.oldText);
    script += "lpadmin -p " + q.sample.name + " -E -v file:///dev/null -P /srv/old/" + q.sample.name + ".ppd || echo " +
              q.sample.name + "\n";
    for (const auto& [option, choice] : q.settings) script += "lpadmin -p " + q.sample.name + " -o '" + option + "=" + choice + "'\n";
  }
  host.write("/etc/cups/cups-files.conf", host.read("/etc/cups/cups-files.conf") + "\nFileDevice Yes\n");
  host.startCups();
  SandboxResult created = host.sh(script, {.timeout = std::chrono::seconds(300)});
  ASSERT_EQ(created.out, "") << created.err;
}

// The new PPDs in a directory of a host, those shipped compressed compressed there.
void placeNewPpds(SandboxHost& host, const std::vector<Queue>& queues, const std::string& dir) {
  std::string compress = "true";
  for (const Queue& q : queues) {
    host.write(dir + "/" + q.sample.name + ".ppd", q.pair.newText);
    if (q.sample.shipsGzipped()) compress += " && gzip -9n " + dir + "/" + q.sample.name + ".ppd";
  }
  ASSERT_EQ(host.sh(compress).status, 0);
}

class DefaultsDifferentialHeavyE2E : public HostTest {};

TEST_F(DefaultsDifferentialHeavyE2E, SetupKeepsExactlyTheDefaultsTheSchedulerKeeps) {
  ASSERT_EQ(std::system((SOURCE_DIR "/scripts/fetch-real-ppds '" + kCache.string() + "'").c_str()), 0);
  const std::vector<Queue> queues = loadQueues();
  SandboxHost twin;
  layOutQueues(*host, queues);
  layOutQueues(twin, queues);
  if (HasFatalFailure()) return;

  // Ours: setup from a tree that ships the new PPDs; theirs: lpadmin -m to the same files.

  std::string manifest = "bin/setup ./bin 00755\nbin/zebgsfilter ./bin 00755\n", move;
  for (const Queue& q : queues) {
    manifest += "ppd/" + q.sample.newFileName() + " ? 00644\n";
    move += "lpadmin -p " + q.sample.name + " -m lsb/usr/orv/" + q.sample.newFileName() + " || echo " + q.sample.name + "\n";
  }
  host->hide(kTree + "/etc/MIVOINST.SHA256");  // the test's own tree has no list of hashes
  host->write(kTree + "/etc/MIVOINST.CONF", manifest);
  placeNewPpds(*host, queues, kTree + "/ppd");
  SandboxResult run = setup();
  EXPECT_EQ(run.status, 0) << run.err;
  placeNewPpds(twin, queues, "/usr/share/ppd/orv");
  EXPECT_EQ(twin.sh(move, {.timeout = std::chrono::seconds(120)}).out, "");

  // Option by option, as libcups reads each result; every queue the scheduler moves, setup moves.
  std::string disagreements;
  size_t compared = 0;
  for (const Queue& q : queues) {
    const std::string path = "/etc/cups/ppd/" + q.sample.name + ".ppd";
    const std::string ours = host->read(path), theirs = twin.read(path);
    EXPECT_NE(theirs.find(copyMark("new")), std::string::npos) << q.sample.name << ": lpadmin -m left its old PPD";
    EXPECT_NE(ours.find(copyMark("new")), std::string::npos) << q.sample.name << ": setup left its old PPD";
    PpdPtr oursPpd = openPpd(ours), theirsPpd = openPpd(theirs);
    ASSERT_TRUE(oursPpd && theirsPpd) << q.sample.name << ": a result libcups cannot read";
    Defaults a = defaultsOf(theirsPpd.get()), b = defaultsOf(oursPpd.get());
    compared += a.size();
    for (const auto& [option, value] : a)
      if (b[option] != value) disagreements += "\n  " + q.sample.name + " " + option + ": scheduler " + value + ", setup " + b[option];
    if (b.size() != a.size()) disagreements += "\n  " + q.sample.name + ": options differ in number";
  }
  EXPECT_EQ(disagreements, "");
  std::cout << queues.size() << " queues, " << compared << " options compared, "
            << std::count(disagreements.begin(), disagreements.end(), '\n') << " disagreements\n";
}

}  // namespace
