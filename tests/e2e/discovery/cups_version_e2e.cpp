// The local CUPS version probes, in their order, with no scheduler answering.
#include <string>

#include "e2e/e2e_support.h"

namespace {

// The version line of one run of the program on a CUPS host without a scheduler.
std::string versionLine(SandboxHost& host, const std::string& program = kProgram) {
  auto r = host.run({program}, {.env = {{"ZEBLPMODE", "CUPS"}}, .timeout = std::chrono::seconds(60)});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const std::string& line : linesOf(host.read(kLog))) {
    if (line.rfind("CUPS Version : ", 0) == 0 || line.rfind("CUPS Header", 0) == 0) return line;
  }
  return "(no version line)";
}

class CupsVersionE2E : public ProgramTest {};

TEST_F(CupsVersionE2E, LocalSourcesAreAskedInOrder) {
  // Overlong binary lines ahead of the header must not disturb the reading.
  std::string junk(5000, '\xff');
  junk[1000] = '\0';
  host->write("/etc/cups/printers.conf", junk + "\n# Printer configuration file for CUPS v1.4.6\n", 0600);
  EXPECT_EQ(versionLine(*host), "CUPS Version : 2420 // 2.4.2");  // cups-config of this host comes first

  host->hide("/usr/bin/cups-config");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 1460 // # Printer configuration file for CUPS v1.4.6");

  // Version 1.0.0 and a title without digits are no answer.
  host->write("/etc/cups/printers.conf", "# Printer configuration file for CUPS v1.0.0\n", 0600);
  host->write("/usr/share/cups/doc/index.html", "<HTML><TITLE>CUPS</TITLE>\n");
  host->mkdir("/usr/share/doc/cups-1.3");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 1300// /usr/share/doc/cups-1.3");

  host->write("/usr/share/cups/doc/index.html", "<HTML><HEAD><TITLE>Home - CUPS 1.2.12</TITLE>\n");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 1212// <HTML><HEAD><TITLE>Home - CUPS 1.2.12</TITLE>");

  host->hide("/usr/share/cups/doc");
  host->write("/usr/share/cups/data/testprint.ps", "%!PS-Adobe-3.0\n%%Printed Using CUPS v1.1.23\n");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 1300// /usr/share/doc/cups-1.3");
  host->hide("/usr/share/doc/cups-1.3");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 1123// %%Printed Using CUPS v1.1.23");

  host->hide("/usr/share/cups/data/testprint.ps");
  host->write("/usr/share/cups/data/testprint", "This page was Produced by Cups\tV2.2\n");
  EXPECT_EQ(versionLine(*host), "CUPS Version : 2200// This page was Produced by Cups\tV2.2");

  host->write("/usr/share/cups/data/testprint", "#PDF-BANNER\n");
  EXPECT_EQ(versionLine(*host), latin1("CUPS Version : 1400// CUPS versión no se encuentra. Restablecer los 1.4"));
}

// The scheduler is asked through the tree's own netcat when its path fits its
// 79 bytes, and a scheduler that never answers holds the run only briefly.
TEST_F(CupsVersionE2E, TheHttpProbeUsesTheTreesNetcatAndNeverWaitsLong) {
  const std::string answering =
      "#!/bin/sh\ncat >/dev/null\nprintf 'HTTP/1.1 200 OK\\r\\nServer: CUPS/1.3 IPP/2.1\\r\\n\\r\\n'\n";
  const std::string fits = "/srv/" + std::string(64, 'd');  // its bin directory, the source directory, is 73 bytes
  const std::pair<std::string, std::string> trees[] = {
      {fits, "CUPS Header Version : 1300//HTTP"},
      {fits + "e", "CUPS Version : 2420 // 2.4.2"},  // 80 bytes: the system's nc finds no scheduler
  };
  for (const auto& [tree, expected] : trees) {
    installProgramAt(*host, tree);
    host->write(tree + "/bin/zebnc", answering, 0755);
    EXPECT_EQ(versionLine(*host, tree + "/bin/setup"), expected) << tree.size();
  }
  host->write(fits + "/bin/zebnc", "#!/bin/sh\nexec sleep 600\n", 0755);
  EXPECT_EQ(versionLine(*host, fits + "/bin/setup"), "CUPS Version : 2420 // 2.4.2");
}

}  // namespace
