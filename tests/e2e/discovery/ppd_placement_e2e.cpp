// PPD directory discovery and the model-directory links, on hosts laid out
// for each case.
#include <algorithm>
#include <string>

#include "e2e/e2e_support.h"

namespace {

const std::string kFoomatic = "/usr/share/foomatic/db/source/PPD";

std::string runWith(SandboxHost& host, const std::string& printSystem) {
  auto r = host.run({kProgram}, {.env = {{"ZEBLPMODE", printSystem}}});
  EXPECT_EQ(r.status, 0) << r.err;
  return host.read(kLog);
}

// The lines, exactly and one after the other, as whole lines of the log.
::testing::AssertionResult hasBlock(const std::string& log, const std::vector<std::string>& lines) {
  std::string block = "\n";
  for (const std::string& line : lines) block += latin1(line) + "\n";
  if (log.find(block) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "block not found:" << block << "--- log ---\n" << log;
}

class PpdPlacementE2E : public ProgramTest {};

TEST_F(PpdPlacementE2E, SummaryBlockOfThreeLayouts) {
  EXPECT_TRUE(
      hasBlock(runWith(*host, "LPR"), {
                                          "=======================================",
                                          "Ubicación PPD del sistema:",
                                          "Directorio de modelo CUPS: /usr/share/cups/model",
                                          "Directorio Foomatic: ???",
                                          "Directorio Tamra: ???",
                                          "Directorio ppd personalizado: ???",
                                          "Directorio ppd compartido: /usr/share/ppd",
                                          "Directorio ppd del sistema: /usr/share/ppd",
                                          "No hay vínculos conocidos en dir de modelo cups: /usr/share/cups/model",
                                      }));

  host->hide("/usr/share/cups/model");
  host->mkdir("/usr/share/ppd/custom");
  host->mkdir(kFoomatic + "/Tamra/orv");
  host->mkdir("/opt/share/ppd");
  EXPECT_TRUE(
      hasBlock(runWith(*host, "LPR"), {
                                          "=======================================",
                                          "Ubicación PPD del sistema:",
                                          "Directorio de modelo CUPS: /usr/share/ppd",
                                          "Directorio Foomatic: " + kFoomatic,
                                          "Directorio Tamra: " + kFoomatic + "/Tamra",
                                          "Directorio ppd personalizado: /usr/share/ppd/custom",
                                          "Directorio ppd compartido: /usr/share/ppd",
                                          "Directorio ppd compartido: /opt/share/ppd",
                                          "Directorio ppd del sistema: /usr/share/ppd",
                                          "Que se encuentran vigentes Mivo dir PPD: \"" + kFoomatic + "/Tamra/orv\".",
                                          "No hay vínculos conocidos en dir de modelo cups: /usr/share/ppd",
                                          "Dir de instalación PPD: " + kFoomatic + "/Tamra/orv",
                                          "Uso de la guía anterior Mivo PPD: \"" + kFoomatic + "/Tamra/orv\".",
                                      }));

  // A model directory that is a file: nothing to scan, and it says so.
  for (const char* dir : {"/usr/share/ppd", "/usr/share/foomatic", "/opt/share"}) host->hide(dir);
  host->write("/usr/share/cups/model", "");
  EXPECT_TRUE(
      hasBlock(runWith(*host, "LPR"), {
                                          "Directorio ppd personalizado: ???",
                                          "Directorio ppd del sistema: ???",
                                          "No hay vínculos conocidos en dir de modelo cups: /usr/share/cups/model",
                                          "Dir de instalación PPD: /usr/share/cups/model/orv",
                                      }));
}

// Each layout on a fresh host: paths hidden ("-path"), files written
// ("path=line"), links made ("link>target") or directories made, then the
// product directory found (if any), the install directory, what follows it in
// the log and how many model-directory links were recorded (-1: any). "LPR"
// stands for CUPS older than 1300.
TEST_F(PpdPlacementE2E, EachLayoutGivesItsInstallDirectory) {
  const std::string op = "/usr/share/ppd/openprinting", model = "/usr/share/cups/model",
                    conf = "/etc/cups/printers.conf=# Printer configuration file for CUPS v";
  const struct {
    std::vector<std::string> steps;
    std::string printSystem, existing, installDir;
    std::vector<std::string> then = {};
    int links = -1;
  } layouts[] = {
      {{kFoomatic + "/orv", op + "/orv"}, "CUPS", kFoomatic + "/orv", kFoomatic + "/orv"},
      {{kFoomatic + "/Tamra", op + "/orv"}, "CUPS", op + "/orv", op + "/orv"},
      {{"/usr/share/ppd/cups-included/orv"}, "CUPS", "", "/usr/share/ppd/orv"},  // not a distribution tree
      {{"/usr/share/ppd/cups-included/orv", op},
       "CUPS",
       "/usr/share/ppd/cups-included/orv",
       "/usr/share/ppd/cups-included/orv"},
      {{"/usr/share/ppd/cups-included/orv", "/usr/share/ppd/HP", "/usr/share/ppd/Epson"},
       "CUPS",
       "/usr/share/ppd/cups-included/orv",
       "/usr/share/ppd/cups-included/orv"},
      {{kFoomatic + "/Tamra"}, "CUPS", "", kFoomatic + "/Tamra/orv"},
      {{kFoomatic}, "CUPS", "", kFoomatic + "/orv"},
      {{"-" + model, "-/usr/share/ppd", "/etc/cups/model/custom/orv", "/opt/share/ppd"},
       "CUPS",
       "/etc/cups/model/custom/orv",
       "/etc/cups/model/custom/orv"},
      {{"-/usr/bin/cups-config", conf + "1.3.0", op}, "CUPS", "", op + "/orv"},  // 1300 is new
      {{"-/usr/bin/cups-config", conf + "1.2.9", op}, "CUPS", "", "/usr/share/ppd/orv"},
      // Old CUPS: the first recorded model-directory link of the kind the layout has.
      {{model + "/custom/sub", kFoomatic, model + "/foomatic>/usr/share/foomatic/db"},
       "LPR",
       "",
       model + "/custom/orv",
       {},
       1},  // only the custom entry is recorded
      {{kFoomatic, model + "/foomatic>/usr/share/foomatic/PPD/orv"}, "LPR", "", "/usr/share/foomatic/PPD/orv"},
      {{kFoomatic, model + "/foomatic>../foomatic"}, "LPR", "", model + "/foomatic/orv"},
      // Recorded (the first only), but no row matches.
      {{model + "/ppd>/usr/share/ppd", model + "/ppd2>/usr/share/ppd/x"}, "LPR", "", model + "/orv", {}, 1},
      {{kFoomatic, model + "/ppd>/usr/share/ppd"}, "LPR", "", "/usr/share/ppd/orv"},  // not recorded
      {{model + "/a>../../ppd"}, "LPR", "", "/usr/share/ppd/orv"},
      {{"-/usr/share/ppd", "/opt/share/ppd", model + "/a>/opt/share/ppd/x"}, "LPR", "", model + "/orv"},
      {{"-/usr/share/ppd", "/opt/share/ppd"},
       "LPR",
       "",
       "/opt/share/ppd/orv",  // a link to a directory not made
       {"No file: /opt/share/ppd/orv", "Vínculo 1: " + model + "/orv vinculado a /opt/share/ppd/orv.", ": ¡ERROR!"}},
      {{"-/usr/share/ppd", "/opt/share/ppd"},
       "CUPS",
       "",
       "/opt/share/ppd/orv",
       {"Directorio creado: '/opt/share/ppd/orv'."}},
  };
  for (const auto& layout : layouts) {
    SandboxHost fresh;
    installProgramAt(fresh, "/srv/mivo");
    for (const std::string& step : layout.steps) {
      size_t arrow = step.find('>'), equals = step.find('=');
      if (step[0] == '-')
        fresh.hide(step.substr(1));
      else if (equals != std::string::npos)
        fresh.write(step.substr(0, equals), step.substr(equals + 1) + "\n", 0600);
      else if (arrow != std::string::npos)
        fresh.symlink(step.substr(arrow + 1), step.substr(0, arrow));
      else
        fresh.mkdir(step);
    }
    std::string log = runWith(fresh, layout.printSystem), found = "Que se encuentran vigentes Mivo dir PPD: ";
    std::vector<std::string> block = {"Dir de instalación PPD: " + layout.installDir};
    block.insert(block.end(), layout.then.begin(), layout.then.end());
    EXPECT_TRUE(hasBlock(log, block)) << ::testing::PrintToString(layout.steps);
    EXPECT_TRUE(layout.existing.empty() ? ::testing::AssertionResult(log.find(found) == std::string::npos)
                                        : hasBlock(log, {found + "\"" + layout.existing + "\"."}))
        << ::testing::PrintToString(layout.steps);
    std::vector<std::string> lines = linesOf(log);
    long links = std::count_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.starts_with(latin1("Vínculo ")); });
    EXPECT_TRUE(layout.links < 0 || links == layout.links)
        << links << " links " << ::testing::PrintToString(layout.steps);
    // Whoever made it, the directory root's PPDs go to is writable by root only.
    std::string mode = modeOf(fresh, layout.installDir);
    EXPECT_TRUE(mode == "755" || mode == "?") << mode << " " << ::testing::PrintToString(layout.steps);
  }
}

TEST_F(PpdPlacementE2E, OldCupsLinksTheModelDirectoryToItsPpdDirectory) {
  host->hide("/usr/bin/cups-config");
  host->write("/etc/cups/printers.conf", "# Printer configuration file for CUPS v1.2.7\n", 0600);
  std::string log = runWith(*host, "CUPS");
  EXPECT_TRUE(hasBlock(log, {
                                "No hay vínculos conocidos en dir de modelo cups: /usr/share/cups/model",
                                "Dir de instalación PPD: /usr/share/ppd/orv",
                                "Directorio creado: '/usr/share/ppd/orv'.",
                                "Cambiando los derechos de ejecución de '/usr/share/ppd/orv' a  00755.",
                                "Vínculo 1: /usr/share/cups/model/orv vinculado a /usr/share/ppd/orv.",
                            }));
  EXPECT_EQ(host->sh("readlink /usr/share/cups/model/orv; stat -c %a /usr/share/ppd/orv").out,
            "/usr/share/ppd/orv\n755\n");

  // The next run finds the directory and the link, and makes nothing.
  log = runWith(*host, "CUPS");
  EXPECT_TRUE(hasBlock(log, {
                                "Que se encuentran vigentes Mivo dir PPD: \"/usr/share/ppd/orv\".",
                                "Vínculo 1: /usr/share/cups/model/orv vinculado a /usr/share/ppd/orv.",
                                "Dir de instalación PPD: /usr/share/ppd/orv",
                                "Uso de la guía anterior Mivo PPD: \"/usr/share/ppd/orv\".",
                            }));
  for (const SandboxChange& change : host->changed())
    EXPECT_TRUE(change.path == kLog || change.path == kReport) << change;
}

// Old CUPS with no shared PPD directory only names the directory; the installation makes it, for root only.
TEST_F(PpdPlacementE2E, ANamedInstallDirectoryIsMadeByTheInstallationForRootOnly) {
  host->copyIn(DIST_DIR, "/srv/dist");
  host->hide("/usr/bin/cups-config");
  host->hide("/usr/share/ppd");
  host->write("/etc/cups/printers.conf", "# Printer configuration file for CUPS v1.2.7\n", 0600);
  auto r = host->run({"./bin/setup"}, {.input = "s\ns\n", .env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/dist"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = host->read(kLog);
  EXPECT_TRUE(hasBlock(log, {"Dir de instalación PPD: /usr/share/cups/model/orv"}));
  EXPECT_TRUE(hasBlock(log, {"Cambiando los derechos de ejecución de '/usr/share/cups/model/orv' a  00755."}));
  EXPECT_EQ(modeOf(*host, "/usr/share/cups/model/orv"), "755");
}

TEST_F(PpdPlacementE2E, CustomEntriesAreRecordedEightAtMost) {
  host->sh("cd /usr/share/cups/model && for i in 1 2 3 4 5 6 7 8 9; do mkdir -p custom$i/sub; done && mkdir custom");
  std::string log = runWith(*host, "CUPS");
  int recorded = 0;
  for (const std::string& line : linesOf(log)) {
    if (line.rfind(latin1("Vínculo "), 0) == 0 && line.find("/usr/share/cups/model/custom") != std::string::npos) {
      EXPECT_EQ(line.rfind(latin1("Vínculo ") + std::to_string(++recorded) + ":", 0), 0u) << line;
    }
  }
  EXPECT_EQ(recorded, 8);
  // New CUPS keeps the proposal under /usr/share, whatever was recorded.
  EXPECT_TRUE(hasBlock(log, {"Dir de instalación PPD: /usr/share/cups/model/custom/orv"}));
}

}  // namespace
