// Removal of the product's queues and installed files.
#pragma once

#include <string>

void removeQueues();
int removeQueue(const std::string& name);
int removeQueueDir(const std::string& name);
void removeInstalledFiles();
int removeTree(const std::string& path);
