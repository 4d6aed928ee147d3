#include "install/uninstall_script.h"

#include <array>
#include <ctime>

#include <sys/stat.h>

#include "install/fs_helpers.h"
#include "services/effects.h"
#include "services/failure_text.h"
#include "services/ownership_record.h"
#include "services/product.h"
#include "services/run_log.h"
#include "services/run_settings.h"
#include "services/shell.h"
#include "sys/atomic_files.h"
#include "sys/file_reading.h"
#include "sys/line_reading.h"
#include "sys/safe_dirs.h"
#include "sys/sha256.h"

namespace {

// The yes/no question of the script, lines 23 to 56.
constexpr std::array<const char*, 21> kAskFunctionHead = {
    "#",
    "#",
    "# Get a yes or no answer from the user.  Argument 1 is prompt, 2 is default.",
    "#",
    "yorn()",
    "{",
    "        if [ \"$2\" = \"\" ] ; then",
    "                prompt=\"$1? \"",
    "        else",
    "                prompt=\"$1 [$2]? \"",
    "        fi",
    " ",
    "        while true ; do",
    "                echo \"$prompt\"",
    "                read input",
    "                parsed=$input",
    " ",
    "                if [ \"$parsed\" = \"\" ] ; then",
    "                        answer=$2",
    "                else",
    "                        answer=$input",
};

// Files of the installation, removed in this order, then its directories.
constexpr std::array<const char*, 8> kInstalledFiles = {
    "%s/mivoInfo4.0",     "%s/bin/zebgsfilter",   "%s/bin/nc",        "/usr/bin/zebgsfilter", "%s/bin/setup",
    "%s/etc/mivo4.0.png", "%s/etc/MIVOINST.CONF", "%s/MIVOINST.CONF",
};
constexpr std::array<const char*, 4> kInstalledDirs = {"%s/ppd", "%s/etc", "%s/bin", "%s"};

std::string line(const std::string& text) { return text + "\n"; }

std::string installedPath(const char* pattern, const std::string& installDir) {
  std::string path = pattern;
  size_t slot = path.find("%s");
  if (slot != std::string::npos) path.replace(slot, 2, installDir);
  return path;
}

bool needsQuoting(const std::string& path) { return shellQuote(path) != path; }

// A directory made of slashes only is the root: its bin and etc are the system's.
bool isRootDirectory(const std::string& dir) { return !dir.empty() && dir.find_first_not_of('/') == std::string::npos; }

std::string helperFunctions(const std::string& rm, bool quoteArgument) {
  std::string arg = quoteArgument ? "\"$1\"" : "$1";
  std::string text;
  text += line("#");
  text += line("#Delete a file");
  text += line("#Syntax : delFile $fileName");
  text += line("#");
  text += line("delFile()");
  text += line("{");
  text += line("if [ -f " + arg + " ] ; then");
  text += line("  " + rm + " " + arg);
  text += line("fi");
  text += line("}");
  text += line("#");
  text += line("#Delete a directory");
  text += line("#Syntax : delDir $dirName");
  text += line("delDir()");
  text += line("{");
  text += line("if [ -d " + arg + " ] ; then");
  text += line("  " + rm + " -rf " + arg);
  text += line("fi");
  text += line("}");
  return text;
}

std::string askFunction() {
  std::string text;
  for (const char* row : kAskFunctionHead) text += line(row);
  text += line("                fi");
  text += line(" ");
  text += line("                case $answer in");
  text += line(std::string("                ") + messageText(msg::kScriptYesPattern));
  text += line("                        return 0 ; break ;;");
  text += line(std::string("                ") + messageText(msg::kScriptNoPattern));
  text += line("                        return 1 ; break ;;");
  text += line("                *)");
  text += line(std::string("                        ") + messageText(msg::kScriptAnswerHint));
  text += line("                esac");
  text += line("        done");
  text += line("}");
  text += line("#");
  return text;
}

std::string removals(const std::string& rm, const std::string& installDir, const UninstallScope& scope) {
  std::string text;
  for (const char* pattern : kInstalledFiles) {
    // The filter's link in /usr/bin points into the installation, whose copy is
    // removed just before it: the link is removed whatever its target's state.
    if (pattern == std::string_view(kFilterLink)) {
      text += line("if [ -L /usr/bin/zebgsfilter ] || [ -f /usr/bin/zebgsfilter ] ; then " + rm +
                   " -f /usr/bin/zebgsfilter ; fi");
      continue;
    }
    text += line("delFile " + shellQuote(installedPath(pattern, installDir)));
  }
  if (!scope.installDirMade) {
    for (const std::string& file : scope.otherFiles) text += line("delFile " + shellQuote(file));
  }
  const bool made[] = {scope.ppdDirMade, scope.etcDirMade, scope.binDirMade, scope.installDirMade};
  for (size_t i = 0; i < kInstalledDirs.size(); ++i) {
    if (!made[i]) continue;
    text += line("delDir " + shellQuote(installedPath(kInstalledDirs[i], installDir)));
  }
  if (!scope.installDirMade) {
    for (const std::string& dir : scope.otherDirs) text += line("delDir " + shellQuote(dir));
  }
  return text;
}

// The script says when it was written: it is written again only when
// something else in it changed, so a re-run leaves it as it is.
bool sameBesidesDate(std::string_view a, std::string_view b) {
  auto withoutDate = [](std::string_view text) {
    std::vector<std::string_view> lines = linePieces(text, false);
    if (lines.size() > 2) lines.erase(lines.begin() + 2);
    return lines;
  };
  return withoutDate(a) == withoutDate(b);
}

}  // namespace

std::string uninstallScriptText(const std::string& rm, const std::string& installDir, const std::string& date,
                                const UninstallScope& scope) {
  std::string text;
  text += line("#!/bin/sh");
  text += line("#");
  text += formatMessage(msg::kScriptDateLine, date);
  text += helperFunctions(rm, needsQuoting(installDir));
  text += askFunction();
  text += line(formatText("echo \"%s\"", messageText(msg::kScriptTitle)));
  text +=
      line(formatText("yorn \"%s\" \"%s\"", messageText(msg::kScriptAskRemoval), messageText(msg::kScriptDefaultNo)));
  text += line("it_is=$?");
  text += line("if [ $it_is -ne 0 ] ; then");
  text += line("  exit");
  text += line("fi");
  text += removals(rm, installDir, scope);
  return text;
}

void writeUninstallScript(const UninstallScope& scope) {
  const RunSettings& s = runSettings();
  // Without a directory of its own the script would name the system's directories.
  std::string installDir = s.installDir.empty() ? s.places.productDir : s.installDir;
  std::string path = installDir + "/etc/UNINSTALLMIVO";
  std::time_t now = std::time(nullptr);
  std::string text = uninstallScriptText(s.commands.rm, installDir, std::ctime(&now), scope);
  FileAccess access;
  access.mode = 0755;
  access.owner = static_cast<uid_t>(s.uid);
  access.group = static_cast<gid_t>(s.gid);
  Failure why{FailureKind::NotADirectory, installDir, 0};
  auto sameButTheDate = [&text](std::string_view old) { return sameBesidesDate(old, text); };
  bool wrote = false;
  if (isRootDirectory(installDir) || !writeProductFile(path, text, access, &why, &wrote, sameButTheDate)) {
    logMsg(msg::kCannotOpenFile, path);
    logFailureMsg(msg::kFileNotInstalled, describe(why));
    return;
  }
  if (wrote) {
    logChange(formatMessage(msg::kScriptCreated, path));
  } else {
    logMsg(msg::kScriptUpToDate, path);
  }
}
