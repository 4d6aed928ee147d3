// Removal of the product's queues and installed files.
#pragma once

#include <string>

// Removes every queue named in the run's queue list (the head record, which
// holds the first line of the printers block, is not a queue), with its
// per-queue directory and script.
void removeQueues();
// Removes one queue from the print system; 1 when the removal steps were
// carried out, 0 when the print system or the name is not one we handle.
int removeQueue(const std::string& name);
// Removes installDir/<name> and installDir/<name>.sh; -1 when the directory
// does not exist, else the result of removeTree on it.
int removeQueueDir(const std::string& name);
// Removes the installed files and directories, logging each one.
void removeInstalledFiles();
// Removes a directory tree bottom-up without ever following a symbolic link:
// -1 when the path does not exist or cannot be listed, else the result of
// removing the emptied directory (0, or -1 when something was left in it).
// A symbolic link given as the path is removed itself.
int removeTree(const std::string& path);

// Whether a queue name may form a path or a command: not empty or blank,
// no '/', not "." or "..".
bool isUsableQueueName(const std::string& name);
// "<lpadmin> -x<name> 2>/dev/null", the name quoted for the shell.
std::string queueRemovalCommand(const std::string& lpadmin, const std::string& name);
// "<lpstat> -p<name> -l > /dev/null", the name quoted for the shell.
std::string queueQueryCommand(const std::string& lpstat, const std::string& name);
