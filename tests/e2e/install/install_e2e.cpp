// Installation and update from the built distribution tree, on a sandboxed
// host with a real cupsd: what lands where, the generated files, the run log.
#include <filesystem>
#include <string>

#include "e2e/e2e_support.h"
#include "install/info_file.h"

namespace {

namespace fs = std::filesystem;

const std::string kDist = "/srv/mivo";
const SandboxRunOptions kFromDist = {.env = {{"ZEBLPMODE", "CUPS"}}, .cwd = kDist};

// The PPD names of the distribution tree, sorted.
std::vector<std::string> shippedPpds() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(DIST_DIR "/ppd")) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string shippedPpd(const std::string& name) { return machineText(DIST_DIR "/ppd/" + name); }

// The PPD install directory as the run logged it (its last message 135).
std::string loggedPpdDir(const std::string& log) {
  const std::string key = latin1("Dir de instalación PPD: ");
  size_t at = log.rfind(key);
  if (at == std::string::npos) return "";
  at += key.size();
  return log.substr(at, log.find('\n', at) - at);
}

// The log line that opens the copy loop over the whole shipped manifest.
std::string copyLoopLine() {
  return latin1("goInstall: Inicio del bucle copia para ") + std::to_string(4 + 2 * shippedPpds().size()) +
         latin1(" artículos.");
}

class InstallE2E : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    host->copyIn(DIST_DIR, kDist);
    host->startCups();
  }
  SandboxResult installFromDist(std::vector<std::string> extra = {}) {
    extra.insert(extra.begin(), "./bin/setup");
    return host->run(extra, kFromDist);
  }
};

TEST_F(InstallE2E, NewInstallationFromADistributionTreeElsewhere) {
  ASSERT_EQ(installFromDist().status, 0);
  std::string log = host->read(kLog), ppdDir = loggedPpdDir(log);
  ASSERT_FALSE(ppdDir.empty());
  for (const auto& [path, mode] : std::vector<std::pair<std::string, std::string>>{
           {"/opt/orv/bin/setup", "755"},
           {"/opt/orv/bin/zebgsfilter", "755"},
           {"/opt/orv/etc/mivo4.0.png", "644"},
           {"/opt/orv/etc/MIVOINST.CONF", "644"},
           {"/opt/orv/mivoInfo4.0", "755"},
           {"/opt/orv/etc/UNINSTALLMIVO", "755"},
           // Directories that root runs programs from are writable by root only.
           {"/opt", "755"},
           {"/opt/orv", "755"},
           {"/opt/orv/ppd", "755"},
           {ppdDir, "755"}})
    EXPECT_EQ(modeOf(*host, path), mode) << path;
  EXPECT_EQ(host->read("/opt/orv/etc/mivo4.0.png"), machineText(DIST_DIR "/etc/mivo4.0.png"));
  EXPECT_EQ(host->read("/opt/orv/mivoInfo4.0"), infoFileText("/opt/orv"));
  // The 74-line uninstall script byte for byte, but for the date after its third line's fixed text.
  std::string script = host->read("/opt/orv/etc/UNINSTALLMIVO");
  const std::string dated = latin1("# Script de desinstalación de Mivo 4.0-10 con fecha: ");
  size_t date = script.find(dated) + dated.size();
  script.replace(date, script.find('\n', date) - date, "DATE");
  EXPECT_EQ(script, machineText(fs::path(__FILE__).parent_path() / "UNINSTALLMIVO.expected"));
  EXPECT_EQ(host->sh("readlink /usr/bin/zebgsfilter").out, "/opt/orv/bin/zebgsfilter\n");
  for (const std::string& name : shippedPpds()) {
    EXPECT_EQ(host->read(ppdDir + "/" + name), shippedPpd(name)) << name;
    EXPECT_EQ(host->read("/opt/orv/ppd/" + name), shippedPpd(name)) << name;
    EXPECT_EQ(modeOf(*host, ppdDir + "/" + name), "644") << name;
  }
  EXPECT_TRUE(
      linesInOrder(log, {
                            latin1("Directorio desde el que se instala: '/srv/mivo'."),
                            latin1("Nueva instalación"),
                            "MIVOINST.CONF = /srv/mivo/etc/MIVOINST.CONF.",
                            "cd /srv/mivo.",
                            "setup siguiente rpm a: /srv/mivo.",
                            latin1("Directorio creado: '/opt/orv'."),
                            latin1("Directorio creado: '/opt/orv/bin'."),
                            latin1("Directorio creado: '/opt/orv/etc'."),
                            latin1("Dir de instalación PPD: ") + ppdDir,
                            latin1("Directorio de instalación: '/opt/orv' correcto. "),
                            latin1("Creando fichero de configuración: '/opt/orv/mivoInfo3.0'. "),
                            "Script creado: /opt/orv/etc/UNINSTALLMIVO.",
                            "Creando scripts de inicio de impresora: '/opt/orv/DOVAPRINT.sh & /opt/orv/PrintDV.sh'. ",
                            copyLoopLine(),
                            "Copiando fichero bin/setup en /opt/orv/bin. ",
                            latin1("Cambiando los derechos de ejecución de '/opt/orv/bin/setup' a  00755."),
                            "Copiando fichero etc/MIVOINST.CONF en /opt/orv/etc. ",
                            latin1("Directorio creado: '/opt/orv/ppd'."),
                            "Copiando fichero ppd/" + shippedPpds().back() + " en /opt/orv/ppd. ",
                            latin1("Vínculo 1: /usr/bin/zebgsfilter vinculado a /opt/orv/bin/zebgsfilter."),
                        }));
  EXPECT_EQ(log.find(latin1("¡ERROR!")), std::string::npos) << log;
}

TEST_F(InstallE2E, InPlaceUpdateCopiesOnlyThePpdItemsAndKeepsTheInformationFile) {
  ASSERT_EQ(installFromDist().status, 0);
  std::string ppdDir = loggedPpdDir(host->read(kLog)), ppd = shippedPpds().front();
  std::string info = host->read("/opt/orv/mivoInfo4.0") + "# kept by updates\n";
  host->write("/opt/orv/mivoInfo4.0", info, 0755);
  host->hide(ppdDir + "/" + ppd);
  host->write("/opt/orv/etc/mivo4.0.png", "not replaced in place\n");

  ASSERT_EQ(host->run({"/opt/orv/bin/setup"}, {.env = kFromDist.env}).status, 0);
  EXPECT_EQ(host->read("/opt/orv/mivoInfo4.0"), info);
  EXPECT_EQ(host->read(ppdDir + "/" + ppd), shippedPpd(ppd));
  EXPECT_EQ(host->read("/opt/orv/etc/mivo4.0.png"), "not replaced in place\n");
  for (const auto& change : host->changed())  // nothing else of the installation is copied again
    EXPECT_TRUE(!change.path.starts_with("/opt/orv/") || change.path == "/opt/orv/etc/UNINSTALLMIVO") << change;
  std::string log = host->read(kLog);
  EXPECT_TRUE(linesInOrder(
      log, {"Actualizar el modo = 2.", latin1("Omitir creación de fichero de configuración: '/opt/orv/mivoInfo3.0'. "),
            "Copiando fichero ppd/" + ppd + " en " + ppdDir + ". "}));
  EXPECT_EQ(log.find("setup siguiente rpm a"), std::string::npos);
}

TEST_F(InstallE2E, UpdateFromTheOlderVersionArchivesThePpdsAndMigratesTheInformationFile) {
  const std::string older =
      "#\n# Mivo 2.0 Information File\n#\n%%ZEBBLOCK_GENERAL_BEGIN\nUSRDIR /opt/orv\n"
      "%%ZEBBLOCK_GENERAL_END\n%%ZEBBLOCK_PRINTERS_BEGIN\nDefault\n%%ZEBBLOCK_PRINTERS_END\n"
      "# Information File ends here\n";
  const std::string ppd = shippedPpds().front();
  host->write("/opt/orv/mivoInfo2.0", older);
  // An earlier PPD directory of the product, found and reused by the run.
  host->write("/usr/share/ppd/orv/tamra_old_ps.ppd", "*PPD-Adobe: \"4.3\"\n");
  host->write("/usr/share/ppd/orv/" + ppd, "older version\n");

  ASSERT_EQ(installFromDist().status, 0);
  std::string log = host->read(kLog);
  ASSERT_EQ(loggedPpdDir(log), "/usr/share/ppd/orv");
  EXPECT_EQ(host->sh("tar tf /var/tmp/MivoPPDFiles4.0-11.tar | sort").out, ppd + "\ntamra_old_ps.ppd\n");
  EXPECT_EQ(host->sh("tar xOf /var/tmp/MivoPPDFiles4.0-11.tar " + ppd).out, "older version\n");
  EXPECT_EQ(host->read("/usr/share/ppd/orv/" + ppd), shippedPpd(ppd));
  EXPECT_EQ(host->read("/opt/orv/mivoInfo2.0"), older);
  const std::string archive = host->read("/var/tmp/MivoPPDFiles4.0-11.tar");
  std::string migrated = older;
  migrated.replace(migrated.find("# Mivo 2.0"), 27, "# Mivo 3.0 Information File");
  EXPECT_EQ(host->read("/opt/orv/mivoInfo4.0"), migrated);
  EXPECT_TRUE(linesInOrder(log, {
                                    "Actualizar el modo = 1.",
                                    "Guardado de archivos PPD: /usr/share/ppd/orv.",
                                    "en: /var/tmp/MivoPPDFiles4.0-11.tar.",
                                    latin1("Copia Mivo archivo de configuración /opt/orv/mivoInfo2.0 a mivoInfo3.0. "),
                                    "Copiado mivoInfo1.0 a mivoInfo3.0 archivo.",
                                    copyLoopLine(),
                                }));

  // Migrated again (the current file lost): the archive of the older release's PPDs is the only copy, and stays.
  host->sh("rm /opt/orv/mivoInfo4.0");
  ASSERT_EQ(installFromDist().status, 0);
  EXPECT_EQ(host->read("/var/tmp/MivoPPDFiles4.0-11.tar"), archive);
}

TEST_F(InstallE2E, UninstallScriptRemovesNothingOnNoAndOnlyItsOwnPathsOnYes) {
  // Unquoted, this directory would split into /srv/odd and "dir;..." and run a command.
  const std::string odd = "/srv/odd dir;$(touch pwned)*";
  host->write("/srv/odd/keep", "decoy\n");
  host->write("/srv/odd dir/keep", "decoy\n");
  ASSERT_EQ(installFromDist({"-u", odd}).status, 0);
  ASSERT_TRUE(host->exists(odd + "/bin/setup"));
  std::string script = odd + "/etc/UNINSTALLMIVO";

  EXPECT_EQ(host->run({"/bin/sh", script}, {.input = "n\n", .cwd = "/srv"}).status, 0);
  EXPECT_TRUE(host->changed().empty());

  host->hide(odd + "/bin/zebgsfilter");  // the filter link of /usr/bin now dangles: it goes all the same
  auto yes = host->run({"/bin/sh", script}, {.input = "yes\ns\xED\n", .cwd = "/srv"});
  EXPECT_EQ(yes.status, 0);
  EXPECT_NE(yes.out.find(latin1("Responda sí o no.")), std::string::npos);
  EXPECT_FALSE(host->exists(odd));
  EXPECT_FALSE(host->exists("/usr/bin/zebgsfilter"));
  for (const auto& change : host->changed()) {
    bool own = change.path.starts_with(odd) || change.path == "/usr/bin/zebgsfilter";
    EXPECT_TRUE(own && change.kind == SandboxChange::Kind::Removed) << change;
  }
  EXPECT_EQ(host->read("/srv/odd/keep") + host->read("/srv/odd dir/keep"), "decoy\ndecoy\n");
}

TEST_F(InstallE2E, HostileManifestEntriesRunNothingAndBadItemsAreReported) {
  host->write(kDist + "/etc/a;touch${IFS}pwned", "semicolon\n");
  host->write(kDist + "/etc/$(touch${IFS}pwned2)", "substitution\n");
  std::string manifest = host->read(kDist + "/etc/MIVOINST.CONF");
  manifest +=
      "etc/a;touch${IFS}pwned ./etc 00644\netc/$(touch${IFS}pwned2) ./etc 00644\nlonely\n"
      "etc/missing.conf ./etc 00644\netc/" +
      std::string(44, 'x') + " ./etc\netc/mivo4.0.png ./share 00644\n";
  host->write(kDist + "/etc/MIVOINST.CONF", manifest);
  // Generated files are written in place of planted links, never through them.
  host->write("/etc/victim", "untouched\n");
  host->symlink("/etc/victim", "/opt/orv/mivoInfo4.0");
  host->symlink("/etc/victim", "/opt/orv/etc/UNINSTALLMIVO");

  ASSERT_EQ(installFromDist().status, 0);
  for (const auto& change : host->changed())
    EXPECT_FALSE(fs::path(change.path).filename().string().starts_with("pwned")) << change;
  EXPECT_EQ(host->read("/opt/orv/etc/a;touch${IFS}pwned"), "semicolon\n");
  EXPECT_EQ(host->read("/opt/orv/etc/$(touch${IFS}pwned2)"), "substitution\n");
  EXPECT_EQ(host->read("/etc/victim"), "untouched\n");
  EXPECT_EQ(host->read("/opt/orv/share/mivo4.0.png"), machineText(DIST_DIR "/etc/mivo4.0.png"));
  std::string log = host->read(kLog);
  EXPECT_TRUE(linesInOrder(
      log, {
               "MIVOINST.CONF line " + std::to_string(linesOf(manifest).size() - 1) +
                   " not taken: the source name 'etc/" + std::string(44, 'x') + "' is longer than 47 characters.",
               latin1("No es posible abrir el fichero:"),
               "\t'/opt/orv/etc/UNINSTALLMIVO',",
               "Copiando fichero etc/a;touch${IFS}pwned en /opt/orv/etc. ",
               "Copiando fichero etc/$(touch${IFS}pwned2) en /opt/orv/etc. ",
               latin1("Copiando fichero lonely en . : ¡ERROR!"),
               latin1("Copiando fichero etc/missing.conf en /opt/orv/etc. : ¡ERROR!"),
               "Copiando fichero etc/mivo4.0.png en /opt/orv/share. ",
           }));
  EXPECT_NE(log.find(latin1("No es posible abrir el fichero:\n\t'/opt/orv/mivoInfo4.0',")), std::string::npos);
}

}  // namespace
