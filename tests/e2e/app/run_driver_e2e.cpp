// The run driver seen from outside: exits, the terminal and the run log.
#include <string>

#include "e2e/e2e_support.h"

namespace {

const std::string kRootRequired = "\n\n\tEs preciso ser usuario root para\n\tinstalar Mivo.\n\n\tLo sentimos.\n";

class RunDriverE2E : public ProgramTest {};

TEST_F(RunDriverE2E, NonRootRunIsRefusedOnTheTerminalWithoutALog) {
  auto r = host->run({kProgram}, {.uid = 1000});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find(latin1("Iniciando la instalación de Mivo 4.0-10: ")), std::string::npos);
  EXPECT_TRUE(r.err.ends_with(kRootRequired)) << r.err;
  for (const auto& change : host->changed()) EXPECT_NE(change.path.rfind("/var/log", 0), 0u) << change;
}

TEST_F(RunDriverE2E, HelpPrintsUsageBeforeAnythingIsLogged) {
  auto r = host->run({kProgram, "-q1", "-h", "-d"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind(latin1("Mivo setup versión: 4.0-11.\n"), 0), 0u);
  EXPECT_TRUE(
      linesInOrder(r.err, {"Uso:", "setup [opciones].", "Opciones:", latin1("-d\t: desinstalación de Mivo 4.0-11."),
                           latin1("-Dx\t: establecer el modo de depuración. [0].")}));
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(host->exists(kLog));
}

TEST_F(RunDriverE2E, UnrecognisedPrintSystemStopsTheInstallation) {
  auto r = host->run({kProgram, "-y"});
  EXPECT_EQ(r.status, 0);
  // The option parser's own complaint, once per pass.
  int complaints = 0;
  for (size_t at = r.err.find("invalid option"); at != std::string::npos; at = r.err.find("invalid option", at + 1))
    ++complaints;
  EXPECT_EQ(complaints, 2) << r.err;

  std::string log = host->read(kLog);
  EXPECT_EQ(log.rfind(latin1("Preparación de archivo de registro:\n"), 0), 0u);
  EXPECT_TRUE(linesInOrder(log, {
                                    "=======================================",
                                    latin1("Directorio desde el que se instala: '/srv/mivo/bin'."),
                                    latin1("SELinux está ejecutando: No."),
                                    latin1("System gerente de impresoras = Incógnita"),
                                    "Abandonado por:",
                                    "* No se permite correr el demonio CUPS se encuentran!",
                                    "*** Lo sentimos ***",
                                    latin1("Nueva instalación"),
                                    latin1("Debido a la escasez de datos, la instalación se detuvo."),
                                }));
  std::vector<std::string> lines = linesOf(log);
  EXPECT_NE(lines[3].find(latin1("Iniciando la instalación de Mivo 4.0-10: ")), std::string::npos);
  EXPECT_EQ(lines.back().rfind(latin1("Finalizando la instalación de Mivo 4.0-10: "), 0), 0u);
}

TEST_F(RunDriverE2E, SourceCheckAndOversizedArgumentsStopTheRun) {
  installProgramAt(*host, "/opt/orv");
  auto outside = host->run({kProgram, "-f0"});
  EXPECT_EQ(outside.status, 0);
  std::string notFromOrv = latin1("Mivo3.0 simulación de la instalación, no de /opt/orv/bin.\nSaliendo.\n");
  EXPECT_NE(outside.err.find(notFromOrv + "\n"), std::string::npos);
  EXPECT_NE(host->read(kLog).find(notFromOrv), std::string::npos);

  // Started from the installation tree the check passes and the run reaches the root-only part.
  auto inside = host->run({"/opt/orv/bin/setup", "-f0", "-u", std::string(300, 'x')});
  EXPECT_EQ(inside.status, 0);
  EXPECT_EQ(inside.err.find(notFromOrv), std::string::npos);
  EXPECT_NE(inside.err.find("longer than 255 bytes"), std::string::npos);
  std::string log = host->read(kLog);
  EXPECT_NE(log.find(latin1("Directorio desde el que se instala: '/opt/orv'.")), std::string::npos);
  EXPECT_EQ(log.find("System gerente"), std::string::npos);
}

// A path of 255 bytes is taken as it stands, one of 256 refused: cut, it could
// name another place. The question asked before installing tells what kind of
// run it would be.
TEST_F(RunDriverE2E, PathLimitsAndTheInstallQuestion) {
  const std::string at255 = "/srv/" + std::string(250, 'u');
  const std::tuple<std::vector<std::string>, bool> limits[] = {
      {{"-u", at255}, true}, {{"-u", at255 + "v"}, false}, {{"-i", std::string(255, 'i')}, true},
      {{"-i", std::string(256, 'i')}, false},
  };
  for (const auto& [args, taken] : limits) {
    std::vector<std::string> argv = {kProgram, "-q", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = host->run(argv, {.input = "n\n", .env = {{"ZEBLPMODE", "CUPS"}}});
    EXPECT_EQ(r.err.find("longer than 255 bytes") == std::string::npos, taken) << args[1].size() << r.err;
  }
  host->copyIn(DIST_DIR, "/srv/mivo");
  const std::pair<std::string, std::string> questions[] = {
      {"", latin1("¿Te gustaría instalar Mivo 3.0?")},
      {"/opt/orv/mivoInfo4.0", latin1("¿Desea actualizar Mivo 3.0?")},
      {"/opt/orv/mivoInfo2.0", latin1("¿Desea actualizar Mivo 3.0 desde Mivo 2.0?")},
  };
  host->mkdir("/opt/orv");
  for (const auto& [infoFile, question] : questions) {
    host->hide("/opt/orv/mivoInfo4.0");  // once migrated, an older file no longer counts
    if (!infoFile.empty()) host->write(infoFile, "USRDIR /opt/orv\n");
    auto r = host->run({"./bin/setup", "-q", "1"}, {.input = "n\n", .env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo"});
    EXPECT_EQ(r.out.rfind(question, 0), 0u) << r.out;
  }
}

}  // namespace
