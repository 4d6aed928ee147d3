#include "install/fs_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run/run_log.h"

bool pathExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

int ensureDirectory(const std::string& path, int create, mode_t requested) {
  if (path.empty()) return -1;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? 0 : -1;
  // Never writable by group or others: in a world-writable /opt/orv any user
  // could swap the programs that root runs from it.
  const mode_t mode = requested & ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
  if (create == 0 || ::mkdir(path.c_str(), mode) != 0) return -1;
  logMsg(msg::kDirCreated, path);
  if (::chmod(path.c_str(), mode) == 0) {
    logMsg(msg::kModeSet, path, static_cast<unsigned>(mode));
  } else {
    logMsg(msg::kChmodFailed, path, static_cast<unsigned>(mode));
  }
  return 1;
}

void makePath(const std::string& path) {
  for (size_t slash = path.find('/', 2); slash != std::string::npos; slash = path.find('/', slash + 1))
    ensureDirectory(path.substr(0, slash), 1, 0777);
  ensureDirectory(path, 1, 0777);
}

int symlinkIfAbsent(const std::string& target, const std::string& link) {
  if (!pathExists(target)) {
    logIfAny(formatText("No file: %s", target.c_str()));
    return -1;
  }
  if (!pathExists(link)) return ::symlink(target.c_str(), link.c_str());
  logMsg(msg::kLinkPathExists, link);
  return -1;
}

void flattenLine(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
}

FilePtr openForReading(const std::string& path) { return FilePtr(std::fopen(path.c_str(), "r")); }

bool readLinePiece(FILE* file, std::string& line) {
  line.clear();
  for (int c; line.size() < kLinePieceMax && (c = std::getc(file)) != EOF;) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line.empty();
}

FilePtr createExclusiveFile(const std::string& path) {
  ::unlink(path.c_str());
  FdHolder fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) return nullptr;
  FilePtr file(::fdopen(fd.get(), "r"));
  if (file) fd.release();
  return file;
}
