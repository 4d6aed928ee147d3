// Links in the CUPS model directory, and the directory that receives the
// product's PPD files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ppd/model_link.h"

// Reads the model directory and records up to eight known links as rows.
void scanModelDirLinks(std::vector<ModelLink>& rows);

constexpr size_t kModelLinkRows = 8;
// CUPS older than this keeps PPD files only where its model directory links.
constexpr int kNewCupsVersion = 1300;

enum class LinkDecision { Skip, Record, RecordAndStop };
// Whether the scan records an entry (a link, or a directory with
// subdirectories) under the PPD location flags, and whether it stops there.
LinkDecision decideModelLink(int flags, std::string_view entryPath, std::string_view target);

enum class InstallDirAction {
  Reuse,              // the product's PPD directory already exists
  LinkAfterCreating,  // old CUPS: make the directory, then the model-directory link
  LinkOnly,           // old CUPS: the model-directory link to a directory made elsewhere
  NameOnly,           // old CUPS: the model directory's own subdirectory, nothing made
  Settle,             // make the directory when it is missing
};
struct InstallDirPlan {
  std::string dir;
  InstallDirAction action;
};
struct InstallDirInputs {
  std::string existingPpdDir;
  std::string proposal;
  std::string cupsModelDir;
  int flags = 0;
  int cupsVersion = 0;
  std::vector<ModelLink> rows;
};
InstallDirPlan planPpdInstallDir(const InstallDirInputs& in);

// Settles ppdInstallDir from the rows (and logs it). Nothing is made yet:
// settlePpdInstallDir makes the directory and, on old CUPS, the "orv" link,
// once the run goes on to install.
InstallDirPlan choosePpdInstallDir(const std::string& existingPpdDir, const std::vector<ModelLink>& rows);
void settlePpdInstallDir(const InstallDirPlan& plan);
