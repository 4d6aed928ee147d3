// Moves each product queue to the new PPD of its model, keeping its defaults.
#pragma once

#include <string>

#include "queues/queue_list.h"

int updateQueues(const std::string& ppdInstallDir, QueueList& list, int count, int askFlag);
