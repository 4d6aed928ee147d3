// Links in the CUPS model directory, and the directory that receives the
// product's PPD files.
#pragma once

#include <string>

void scanModelDirLinks(int& rowCount);
void choosePpdInstallDir(const std::string& existingPpdDir, int rowCount);
