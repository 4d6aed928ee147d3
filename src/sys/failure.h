// Why a step on the host failed, as a kind, the path it concerns and the
// system's error number: the log tells it in its own words (describe, in the
// services), so every reason travels one way.
#pragma once

#include <string>

enum class FailureKind {
  NotAbsolute,
  NotAName,
  Missing,
  LinkInTheWay,
  NotADirectory,
  NotARegularFile,
  CannotOpen,
  CannotRead,
  CannotCreateIn,
  CannotWrite,
  CannotSetMode,
  CannotSetOwner,
  CannotFlush,
  CannotRename,
  CannotRemove,
  CannotMake,
  NotRootOnly,
  WroteNothing,
};

struct Failure {
  FailureKind kind = FailureKind::CannotOpen;
  std::string path;
  int error = 0;  // errno, where the system gave one
};

// Fills *why when there is one; false, so a caller can return it.
inline bool fail(Failure* why, FailureKind kind, const std::string& path, int error = 0) {
  if (why) *why = Failure{kind, path, error};
  return false;
}
