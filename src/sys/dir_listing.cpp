#include "sys/dir_listing.h"

#include <fcntl.h>

#include "sys/file_handles.h"

namespace {

std::vector<std::string> namesOf(DIR* dir) {
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::vector<std::string> listDirectory(const std::string& dir) {
  DirPtr handle(::opendir(dir.c_str()));
  return handle ? namesOf(handle.get()) : std::vector<std::string>{};
}

std::vector<std::string> listDirectoryAt(int fd) {
  // fdopendir takes the descriptor over, so it gets a copy of its own.
  FdHolder copy(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (copy.get() < 0) return {};
  DirPtr handle(::fdopendir(copy.get()));
  if (!handle) return {};
  copy.release();
  return namesOf(handle.get());
}
