// Placeholder until this unit is built; the run driver already calls it.
#include "removal/uninstall.h"

void removeQueues() {}
int removeQueue(const std::string&) { return 0; }
int removeQueueDir(const std::string&) { return -1; }
void removeInstalledFiles() {}
int removeTree(const std::string&) { return -1; }
