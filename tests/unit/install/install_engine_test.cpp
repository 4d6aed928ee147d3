#include "install/install_engine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../test_support.h"
#include "install/ppd_archive.h"
#include "sys/sha256.h"

namespace {

namespace fs = std::filesystem;

const std::string kManifest = "bin/setup ./bin 00755\netc/MIVOINST.CONF ./etc 00644\nman/setup.8 ./man 00644\n"
                              "ppd/a.ppd ? 00644\nppd/a.ppd ./ppd 00644\netc/notes ./etc\nmissing ./etc\nxx ./bin\n";

// A distribution tree with its manifest and its list of hashes.
void makeTree(const ScratchHost& host) {
  const std::string tree = host / "srv/mivo";
  writeWhole(tree + "/bin/setup", "#!/bin/sh\n", 0755);
  writeWhole(tree + "/etc/MIVOINST.CONF", kManifest);
  writeWhole(tree + "/man/setup.8", ".TH SETUP 8\n");
  writeWhole(tree + "/ppd/a.ppd", "*PPD-Adobe: \"4.3\"");
  writeWhole(tree + "/etc/notes", "n", 0666);  // no mode in the manifest
  std::string list;
  for (const char* file : {"bin/setup", "etc/MIVOINST.CONF", "man/setup.8", "ppd/a.ppd", "etc/notes"})
    list += sha256Hex(readWhole(tree + "/" + file)) + "  " + file + "\n";
  writeWhole(tree + "/etc/MIVOINST.SHA256", list);
  RunSettings& s = runSettings();
  s.sourceDir = tree;
  s.startDir = "/";
  s.ppdInstallDir = host / "usr/share/ppd/orv";
}

std::vector<std::string> installOnce(bool planOnly) {
  startEffects(planOnly);
  runReport().start(RunKind::Install);
  InstallTable table;
  getInfoData(table);
  EXPECT_TRUE(goInstall(table, static_cast<int>(table.size())));
  std::vector<std::string> outcomes;
  for (const ReportFile& f : runReport().files())
    outcomes.push_back(lastComponent(f.path) + " " + toString(f.outcome));
  return outcomes;
}

TEST(InstallEngine, InstallsWhatTheTreesListVouchesForAndReRunsChangeNothing) {
  ScratchHost host;
  makeTree(host);
  EXPECT_EQ(installOnce(true), (std::vector<std::string>{"setup ok", "MIVOINST.CONF ok", "setup.8 ok", "a.ppd ok",
                                                          "a.ppd ok", "notes ok", "missing failed"}));
  EXPECT_FALSE(fs::exists(host / "opt/orv"));  // a plan makes nothing
  resetProductRecord();
  installOnce(false);
  EXPECT_EQ(readWhole(host / "opt/orv/man/setup.8"), ".TH SETUP 8\n");
  EXPECT_EQ(fs::status(host / "opt/orv/bin/setup").permissions(), fs::perms(0755));
  EXPECT_EQ(fs::status(host / "opt/orv/etc/notes").permissions(), fs::perms(0644));  // nobody else writes it
  const OwnershipRecord& record = productRecord();
  EXPECT_TRUE(record.installDirMade);
  EXPECT_TRUE(record.madeDirectory(host / "usr/share/ppd/orv") && record.madeDirectory(host / "opt/orv/man"));
  EXPECT_EQ(record.file(host / "opt/orv/ppd/a.ppd")->sha256, sha256Hex("*PPD-Adobe: \"4.3\""));
  EXPECT_EQ(readWhole(host / "opt/orv/etc/UNINSTALLMIVO").find("delFile " + host / "opt/orv/man"), std::string::npos);

  // Again: everything is already right, so nothing but the information file's check is written.
  std::vector<std::string> again = installOnce(false);
  EXPECT_EQ(std::count(again.begin(), again.end(), "a.ppd unchanged"), 2);
  EXPECT_EQ(host.changes(), std::vector<std::string>{});

  // A file that is not what the tree's list says is not installed; what a
  // killed run left half-written in the product's directories goes.
  writeWhole(host / "srv/mivo/ppd/a.ppd", "*PPD-Adobe: \"4.3\"\n*cut");
  const std::vector<std::string> leftovers = {host / "opt/orv/bin/.zebtmpAbC123", host / "opt/orv/man/.zebtmpAbC123",
                                              host / "usr/share/ppd/orv/.zebtmpAbC123"};
  for (const std::string& path : leftovers) writeWhole(path, "half");
  std::vector<std::string> tampered = installOnce(false);
  for (const std::string& path : leftovers) EXPECT_NE(fs::exists(path), ::geteuid() == 0) << path;  // root's alone
  EXPECT_EQ(tampered[3], "a.ppd failed");
  EXPECT_EQ(readWhole(host / "usr/share/ppd/orv/a.ppd"), "*PPD-Adobe: \"4.3\"");
  EXPECT_NE(host.log().find("no es el fichero que la lista de sumas del \xE1rbol describe"), std::string::npos);
  writeWhole(host / "srv/mivo/etc/MIVOINST.SHA256", "not a list of sums\n");  // vouches for nothing
  EXPECT_EQ(installOnce(false)[0], "setup failed");
}

// An installation directory the product did not make keeps its owner and
// mode, and the uninstall script removes only what the product put there.
TEST(InstallEngine, ADirectoryNotMadeByTheProductIsNotTakenOver) {
  ScratchHost host;
  makeTree(host);
  fs::create_directories(host / "opt/orv");
  ::chmod((host / "opt/orv").c_str(), 0750);
  installOnce(false);
  EXPECT_EQ(fs::status(host / "opt/orv").permissions(), fs::perms(0750));
  std::string script = readWhole(host / "opt/orv/etc/UNINSTALLMIVO");
  EXPECT_NE(script.find("delFile " + host / "opt/orv/man/setup.8\n"), std::string::npos);
  EXPECT_NE(script.find("delDir " + host / "opt/orv/bin\n"), std::string::npos);
  EXPECT_EQ(script.find("delDir " + host / "opt/orv\n"), std::string::npos);
}

// Only root's own non-empty file counts as an earlier archive; anything else
// at the name stays, and the archive is made beside it.
TEST(PpdArchive, ASomethingAtTheArchivesNameIsLeftAloneAndNamed) {
  REQUIRE_ROOT();
  const std::tuple<std::string, bool> cases[] = {{"none", true}, {"roots", false}, {"users", true}, {"link", true}};
  for (const auto& [what, madeNow] : cases) {
    ScratchHost host;
    writeWhole(host / "ppddir/a.ppd", "x");
    std::string archive = ppdArchivePath();
    if (what == "roots") writeWhole(archive, "earlier");
    if (what == "users") writeWhole(archive, "");
    if (what == "users") ::chown(archive.c_str(), 65534, 65534);
    if (what == "link") fs::create_symlink(host / "ppddir/a.ppd", archive);
    EXPECT_EQ(archivePpdFiles(host / "ppddir") == 0, true) << what;
    ASSERT_EQ(runReport().files().size(), madeNow ? 1u : 0u) << what;
    if (!madeNow) continue;
    const std::string& made = runReport().files()[0].path;
    EXPECT_EQ(made == archive, what == "none") << what;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(made))) << what;
    EXPECT_NE(host.log().find("en: " + made + "."), std::string::npos) << what;
  }
}

}  // namespace
