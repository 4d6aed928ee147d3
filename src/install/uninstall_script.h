// The stand-alone uninstall script left in the installation.
#pragma once

void writeUninstallScript();
