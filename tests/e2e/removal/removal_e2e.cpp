// Removal (-d) on a sandboxed host with a real cupsd and an installation laid out by hand.
#include <string>

#include "e2e/e2e_support.h"

namespace {

const SandboxRunOptions kCups = {.input = "s\n", .env = {{"ZEBLPMODE", "CUPS"}}};

void layOutInstallation(SandboxHost& host, const std::string& printers) {
  installProgramAt(host, "/opt/orv");
  host.write("/opt/orv/mivoInfo4.0",
             "# Mivo Information File\nUSRDIR          /opt/orv\n"
             "%%ZEBBLOCK_PRINTERS_BEGIN\n" +
                 printers + "%%ZEBBLOCK_PRINTERS_END\n");
  for (const char* file : {"mivo", "bin/zebgsfilter", "bin/nc", "etc/UNINSTALLMIVO", "etc/mivo4.0.png", "MIVOINST.CONF",
                           "etc/MIVOINST.CONF", "ppd/Tamra.ppd.gz", "Default/root/mivoConfig"})
    host.write(std::string("/opt/orv/") + file, "x\n");
  host.symlink("/opt/orv/bin/zebgsfilter", "/usr/bin/zebgsfilter");
  host.startCups();
  for (const std::string queue : {"Office", "Lab", "Keep"}) {
    host.write("/opt/orv/" + queue + "/root/mivoConfig", "1\n");
    host.write("/opt/orv/" + queue + ".sh", "#!/bin/sh\n", 0755);
    ASSERT_EQ(host.sh("lpadmin -p " + queue + " -E -v socket://127.0.0.1:9100").status, 0);
  }
}

// The resolved command as the run logged it ("lpadmin = ...", "lpstat  = ...").
std::string loggedCommand(const std::string& log, const std::string& key) {
  size_t at = log.find("\n" + key + " = ");
  if (at == std::string::npos) return "?";
  at += key.size() + 4;
  return log.substr(at, log.find('\n', at) - at);
}

class RemovalE2E : public SandboxTest {};

TEST_F(RemovalE2E, NoLeavesEverythingYesRemovesTheListedQueuesAndFiles) {
  layOutInstallation(*host, "Default\nOffice\n\nLab\nGone\n");
  auto no = host->run({"/opt/orv/bin/setup", "-d"}, {.input = "n\n", .env = kCups.env});
  EXPECT_NE(no.err.find("Programa abandonada por el usuario.\n\n"), std::string::npos);
  EXPECT_TRUE(linesInOrder(host->read(kLog), {"Programa abandonada por el usuario."}));
  EXPECT_TRUE(host->exists("/opt/orv/mivoInfo4.0") && host->exists("/opt/orv/Office.sh"));
  EXPECT_NE(host->sh("lpstat -p").out.find("printer Lab "), std::string::npos);

  auto yes = host->run({"/opt/orv/bin/setup", "-d"}, kCups);
  std::string log = host->read(kLog), lpadmin = loggedCommand(log, "lpadmin");
  EXPECT_TRUE(linesInOrder(
      log,
      {latin1("Número de impresoras Mivo encontradas: 5."),
       "Ejecutando comando:", "\t" + lpadmin + " -xOffice 2>/dev/null", "Eliminando la impresora Mivo: Office.",
       "\t" + lpadmin + " -xLab 2>/dev/null", "Eliminando la impresora Mivo: Lab.",
       "\t" + lpadmin + " -xGone 2>/dev/null", "\t" + loggedCommand(log, "lpstat ") + " -pGone -l > /dev/null",
       "\t" + lpadmin + " -xGone 2>/dev/null", "Eliminando la impresora Mivo: Gone.",
       "Eliminando fichero: '/opt/orv/mivo' - OK.", "Eliminando fichero: '/usr/bin/zebgsfilter' - OK.",
       "Eliminando fichero: '/opt/orv/bin/setup' - OK.", "Eliminando fichero: '/usr/bin/zebgsfilter' - No es posible.",
       "Eliminando fichero: '/opt/orv/bin/nc' - OK.", "Eliminando directorio: '/opt/orv/Default' - OK.",
       "Eliminando directorio: '/opt/orv/bin' - OK.", "Mivo 3.0 ha sido desinstalado del sistema."}));
  EXPECT_EQ(log.find(" -pOffice"), std::string::npos);  // removed at the first attempt, so no query
  EXPECT_NE(yes.err.find("Mivo 3.0 ha sido desinstalado del sistema.\n\n"), std::string::npos);
  std::string printers = host->sh("lpstat -p").out;
  EXPECT_EQ(printers.find("printer Office "), std::string::npos);
  EXPECT_EQ(printers.find("printer Lab "), std::string::npos);
  EXPECT_NE(printers.find("printer Keep "), std::string::npos);
  EXPECT_EQ(host->sh("ls -A /opt/orv").out, "Keep\nKeep.sh\n");
  EXPECT_FALSE(host->exists("/usr/bin/zebgsfilter"));

  installProgramAt(*host, "/srv/mivo");  // the removal took /opt/orv/bin/setup with it
  auto again = host->run({"/srv/mivo/bin/setup", "-d"}, kCups);
  EXPECT_NE(again.err.find(latin1("Ninguna instalación Mivo encontrado.\n*** Lo sentimos ***\n")), std::string::npos);
  EXPECT_TRUE(linesInOrder(host->read(kLog), {latin1("Ninguna instalación Mivo encontrado."), "*** Lo sentimos ***"}));
}

TEST_F(RemovalE2E, InstallUpdateRemoveLeavesOnlyWhatIsKept) {
  host->copyIn(DIST_DIR, "/opt/orv");
  host->startCups();
  const SandboxRunOptions env = {.env = {{"ZEBLPMODE", "CUPS"}}};
  for (int run = 0; run < 2; ++run) ASSERT_EQ(host->run({"/opt/orv/bin/setup"}, env).status, 0);
  ASSERT_TRUE(host->exists("/opt/orv/mivoInfo4.0") && host->exists("/usr/bin/zebgsfilter"));
  const std::string ppdDirs = "ls -d /usr/share/ppd/orv /usr/share/cups/model/orv 2>/dev/null";
  std::string kept = host->sh(ppdDirs).out;
  ASSERT_FALSE(kept.empty());
  host->run({"/opt/orv/bin/setup", "-d"}, kCups);
  EXPECT_EQ(host->sh("ls -A /opt/orv").out, "");
  EXPECT_FALSE(host->exists("/usr/bin/zebgsfilter"));
  EXPECT_EQ(host->sh(ppdDirs).out, kept);
}

}  // namespace
