// The queue update on a sandboxed host with a real cupsd: queues made from
// older product PPDs move to the new PPDs of their models, defaults kept.
#include <filesystem>
#include <map>
#include <sstream>

#include "e2e/e2e_support.h"

namespace {

const std::string kOld = "/srv/old";
const SandboxRunOptions kFromDist = {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo"};
using Defaults = std::map<std::string, std::string>;

std::string sourceText(const std::string& relative) {
  return machineText(std::filesystem::path(__FILE__).parent_path() / "../../.." / relative);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Everything of a PPD but its default lines.
std::string withoutDefaults(const std::string& ppd) {
  std::istringstream in(ppd);
  std::string rest;
  for (std::string line; std::getline(in, line);)
    if (!line.starts_with("*Default")) rest += line + "\n";
  return rest;
}

class QueueUpdateE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(DIST_DIR, "/srv/mivo");
    for (const char* ppd : {"tamra_cendra2100_ps.ppd", "tamra_cendra2100duo_pcl.ppd", "tamra_lumo4400_ps.ppd"})
      host->write(kOld + "/" + ppd, sourceText(std::string("tests/fixtures/ppd-old/") + ppd));
    // A queue of another maker: no product comment, a model outside the table.
    std::string acme = replaceAll(sourceText("tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd"), "*% Mivo", "*% Acme");
    host->write("/srv/acme.ppd", replaceAll(replaceAll(acme, "Tamra Cendra 2100", "Acme Writer 9"), "Tamra", "Acme"));
    host->startCups();
  }

  void createQueue(const std::string& name, const std::string& ppd, const std::string& options = "") {
    std::string change = options.empty() ? "" : " && lpadmin -p " + name + " " + options;
    ASSERT_EQ(host->sh("lpadmin -p " + name + " -E -v socket://127.0.0.1:9100 -P " + ppd + change).status, 0);
  }

  SandboxResult runSetup(std::vector<std::string> argv = {"./bin/setup"}, SandboxRunOptions options = kFromDist) {
    return host->run(argv, options);
  }

  bool updated(const std::string& queue) {
    return host->read("/etc/cups/ppd/" + queue + ".ppd").find("*FileVersion: \"2.0\"") != std::string::npos;
  }

  // The defaults as CUPS reports them: option keyword -> its marked choice.
  Defaults defaultsOf(const std::string& queue) {
    Defaults defaults;
    std::istringstream lines(host->sh("lpoptions -p " + queue + " -l").out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream choices(line.substr(line.find(": ") + 2));
      for (std::string choice; choices >> choice;)
        if (choice[0] == '*') defaults[line.substr(0, line.find_first_of("/:"))] = choice.substr(1);
    }
    return defaults;
  }
};

TEST_F(QueueUpdateE2E, QueuesGetTheNewPpdOfTheirModelWithTheirDefaults) {
  createQueue("Office", kOld + "/tamra_cendra2100_ps.ppd",
              "-o PageSize=Legal -o MediaType=Thick -o InputSlot=Manual -o TamraTonerSave=False");
  createQueue("Lab", kOld + "/tamra_cendra2100duo_pcl.ppd",
              "-o Duplex=DuplexTumble -o PageSize=Letter -o Resolution=600dpi -o MediaType=Transparency");
  createQueue("Hall", kOld + "/tamra_lumo4400_ps.ppd");
  createQueue("Acme", "/srv/acme.ppd", "-o PageSize=A4");
  host->write("/opt/orv/Office/root/mivoConfig", "a\n%%MIVO_VERSION_1.0\nb\n");
  const std::string office = host->read("/etc/cups/ppd/Office.ppd"), acme = host->read("/etc/cups/ppd/Acme.ppd");
  const std::string cupsdBefore = host->sh("pgrep -x cupsd").out;

  ASSERT_EQ(runSetup().status, 0);
  // Changed defaults are carried; one the new PPD does not offer (Manual,
  // Transparency, 300dpi) leaves the new PPD's own default.
  EXPECT_EQ(defaultsOf("Office"), (Defaults{{"PageSize", "Legal"},
                                            {"InputSlot", "Auto"},
                                            {"MediaType", "Thick"},
                                            {"Resolution", "600dpi"},
                                            {"TamraTonerSave", "False"},
                                            {"JCLDensity", "Light"}}));
  EXPECT_EQ(defaultsOf("Lab"), (Defaults{{"PageSize", "Letter"},
                                         {"InputSlot", "Tray1"},
                                         {"MediaType", "Plain"},
                                         {"Resolution", "600dpi"},
                                         {"Duplex", "DuplexTumble"},
                                         {"TamraTonerSave", "True"}}));
  // Hall's new PPD ships compressed; its old defaults A4 and no duplex stay.
  EXPECT_EQ(defaultsOf("Hall")["Duplex"], "None");
  EXPECT_EQ(defaultsOf("Hall")["PageSize"], "A4");
  for (const auto& [queue, ppd] : {std::pair{"Office", "dist/ppd/tamra_cendra2100_ps.ppd"},
                                   {"Lab", "dist/ppd/tamra_cendra2100duo_pcl.ppd"},
                                   {"Hall", "dist/ppd/gz/tamra_lumo4400_ps.ppd"}})
    EXPECT_EQ(withoutDefaults(host->read("/etc/cups/ppd/" + std::string(queue) + ".ppd")),
              withoutDefaults(sourceText(ppd)));
  EXPECT_EQ(host->sh("stat -c '%a %U %G' /etc/cups/ppd/Office.ppd").out, "640 root lp\n");

  // Old PPDs are saved beside the PPD directory; CUPS's own Office.ppd.O has its own backup.
  EXPECT_EQ(host->read("/etc/cups/Office.ppd.rpmsave"), office);
  EXPECT_TRUE(host->exists("/etc/cups/Lab.ppd.rpmsave") && host->exists("/etc/cups/Office.ppd.O.rpmsave"));
  EXPECT_EQ(host->read("/etc/cups/ppd/Acme.ppd"), acme);
  EXPECT_FALSE(host->exists("/etc/cups/Acme.ppd.rpmsave"));
  EXPECT_EQ(host->read("/opt/orv/Office/root/mivoConfig"), "a\n%%MIVO_VERSION_3.0\nb\n");
  EXPECT_EQ(host->sh("ls -A /tmp /etc/cups/ppd | grep -c -i zeb").out, "0\n");
  // PageRegion follows PageSize in the PPD itself, as the scheduler keeps it.
  EXPECT_NE(host->read("/etc/cups/ppd/Office.ppd").find("*DefaultPageRegion: Legal\n"), std::string::npos);
  // The update restarts the scheduler after the queues, and the run once more at its end.
  std::string log = host->read(kLog);
  size_t restarts = 0;
  for (size_t at = log.find("CUPS restart command"); at != std::string::npos; at = log.find("CUPS restart command", at + 1))
    ++restarts;
  EXPECT_EQ(restarts, 2u);
  // No systemd in the host: the restart falls back to the service command, which starts a new scheduler.
  EXPECT_NE(host->sh("pgrep -x cupsd").out, cupsdBefore);
}

TEST_F(QueueUpdateE2E, AskingBeforeEachQueueUpdatesExactlyTheAnsweredOnes) {
  createQueue("Office", kOld + "/tamra_cendra2100_ps.ppd");
  createQueue("Lab", kOld + "/tamra_cendra2100duo_pcl.ppd");
  createQueue("Hall", kOld + "/tamra_lumo4400_ps.ppd");
  const std::string question = latin1("¿Desea actualizar la impresora: ");
  auto asked = [&](const std::string& out) {
    std::vector<std::string> queues;
    for (size_t at = out.find(question); at != std::string::npos; at = out.find(question, at + 1))
      queues.push_back(out.substr(at + question.size(), out.find('?', at + question.size()) - at - question.size()));
    return queues;
  };
  SandboxRunOptions answers = kFromDist;
  answers.input = "s\nno\nyes\nbreak\n";  // the first answer is the installation's
  std::vector<std::string> queues = asked(runSetup({"./bin/setup", "-q", "1"}, answers).out);
  ASSERT_EQ(queues.size(), 3u);
  EXPECT_FALSE(updated(queues[0]) || host->exists("/etc/cups/" + queues[0] + ".ppd.rpmsave"));
  EXPECT_TRUE(updated(queues[1]));
  EXPECT_FALSE(updated(queues[2]) || host->exists("/etc/cups/" + queues[2] + ".ppd.rpmsave"));

  // Input that ends before the questions do breaks them off: no further queue is touched.
  answers.input = "s\nno\n";
  EXPECT_EQ(asked(runSetup({"./bin/setup", "-q", "1"}, answers).out).size(), 2u);
  EXPECT_FALSE(updated(queues[0]) || updated(queues[2]));

  answers.input = "s\ntodas\n";
  EXPECT_EQ(asked(runSetup({"./bin/setup", "-q", "1"}, answers).out).size(), 1u);
  for (const std::string& queue : queues) EXPECT_TRUE(updated(queue)) << queue;
}

}  // namespace
