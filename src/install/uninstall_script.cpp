// Placeholder until this unit is built; the run driver already calls it.
#include "install/uninstall_script.h"

void writeUninstallScript() {}
