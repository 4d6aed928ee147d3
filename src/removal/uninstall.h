// Removal of the product's queues and installed files.
#pragma once

#include <string>

#include "queues/queue_list.h"

// Removes every queue named in the list (the head record, which holds the
// first line of the printers block, is not a queue), with its per-queue
// directory and script. The number of queues removed.
int removeQueues(const QueueList& list);
// Removes one queue from the print system; 1 when the removal steps were
// carried out, 0 when the print system or the name is not one we handle.
int removeQueue(const std::string& name);
// Removes installDir/<name> and installDir/<name>.sh; -1 when the directory
// does not exist, else the result of removing it.
int removeQueueDir(const std::string& name);
// Removes the installed files, and the installation's directories where the
// product made them (elsewhere only the files it installed), logging each
// one; the number of them removed.
int removeInstalledFiles();
// Lists in the report, as kept, the product's queues of the scheduler that
// the list does not name: a removal leaves them.
void reportQueuesLeft(const QueueList& list);
// Removes a directory tree bottom-up without ever following a symbolic link:
// -1 when the path does not exist, is a link or cannot be listed, else the
// result of removing the emptied directory (0, or -1 when something was left).
int removeTree(const std::string& path);

// "<lpadmin> -x<name> 2>/dev/null", the name quoted for the shell.
std::string queueRemovalCommand(const std::string& lpadmin, const std::string& name);
// "<lpstat> -p<name> -l > /dev/null", the name quoted for the shell.
std::string queueQueryCommand(const std::string& lpstat, const std::string& name);
// Whether /dev/<name> may go with its queue: only a regular file or a fifo
// that belongs to root, never a link, a device, a socket or a directory.
bool isRemovableDeviceEntry(bool regular, bool fifo, unsigned uid);
