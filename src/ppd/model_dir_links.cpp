// Placeholder until this unit is built; the run driver already calls it.
#include "ppd/model_dir_links.h"

void scanModelDirLinks(int& rowCount) { rowCount = 0; }
void choosePpdInstallDir(const std::string&, int) {}
