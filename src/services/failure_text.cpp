#include "services/failure_text.h"

#include <cerrno>

#include "services/run_log.h"

std::string errorText(int error) {
  switch (error) {
    case ENOSPC: return formatMessage(msg::kErrnoNoSpace);
    case EIO: return formatMessage(msg::kErrnoIo);
    case EACCES:
    case EPERM: return formatMessage(msg::kErrnoAccess);
    case ENOENT: return formatMessage(msg::kErrnoMissing);
    case EEXIST: return formatMessage(msg::kErrnoExists);
    case ELOOP: return formatMessage(msg::kErrnoLoop);
    case ENOTDIR: return formatMessage(msg::kErrnoNotDir);
    case EROFS: return formatMessage(msg::kErrnoReadOnly);
    case ENOTEMPTY: return formatMessage(msg::kErrnoNotEmpty);
    case EBUSY: return formatMessage(msg::kErrnoBusy);
    default: return formatMessage(msg::kErrnoOther, error);
  }
}

std::string describe(const Failure& f) {
  const std::string& p = f.path;
  switch (f.kind) {
    case FailureKind::NotAbsolute: return formatMessage(msg::kFailNotAbsolute, p);
    case FailureKind::NotAName: return formatMessage(msg::kFailNotAName, p);
    case FailureKind::Missing: return formatMessage(msg::kFailMissing, p);
    case FailureKind::LinkInTheWay: return formatMessage(msg::kFailLinkInTheWay, p);
    case FailureKind::NotADirectory: return formatMessage(msg::kFailNotADirectory, p);
    case FailureKind::NotARegularFile: return formatMessage(msg::kFailNotARegularFile, p);
    case FailureKind::CannotOpen: return formatMessage(msg::kFailCannotOpen, p, errorText(f.error));
    case FailureKind::CannotRead: return formatMessage(msg::kFailCannotRead, p, errorText(f.error));
    case FailureKind::CannotCreateIn: return formatMessage(msg::kFailCannotCreateIn, p, errorText(f.error));
    case FailureKind::CannotWrite: return formatMessage(msg::kFailCannotWrite, p, errorText(f.error));
    case FailureKind::CannotSetMode: return formatMessage(msg::kFailCannotSetMode, p, errorText(f.error));
    case FailureKind::CannotSetOwner: return formatMessage(msg::kFailCannotSetOwner, p, errorText(f.error));
    case FailureKind::CannotFlush: return formatMessage(msg::kFailCannotFlush, p, errorText(f.error));
    case FailureKind::CannotRename: return formatMessage(msg::kFailCannotRename, p, errorText(f.error));
    case FailureKind::CannotRemove: return formatMessage(msg::kFailCannotRemove, p, errorText(f.error));
    case FailureKind::CannotMake: return formatMessage(msg::kFailCannotMake, p, errorText(f.error));
    case FailureKind::NotRootOnly: return formatMessage(msg::kFailNotRootOnly, p);
    case FailureKind::WroteNothing: return formatMessage(msg::kFailWroteNothing, p);
  }
  return p;
}
