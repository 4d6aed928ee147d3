// Laying out a host: files, directories, links and copied trees, and reading them back.
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "sandbox/sandbox_internal.h"

using namespace sandbox_internal;
using namespace std::chrono_literals;

void SandboxHost::write(const std::string& path, const std::string& content, mode_t mode) {
  execChecked(
      "write " + path,
      {"/bin/sh", "-c", R"SH(umask 022; mkdir -p -- "$(dirname -- "$1")" && cat > "$1" && chmod "$2" -- "$1")SH", "sh",
       path, octal(mode)},
      {.input = content});
}

void SandboxHost::mkdir(const std::string& path, mode_t mode) {
  execChecked("make directory " + path,
              {"/bin/sh", "-c", R"SH(umask 022; mkdir -p -- "$1" && chmod "$2" -- "$1")SH", "sh", path, octal(mode)});
}

void SandboxHost::symlink(const std::string& target, const std::string& link) {
  execChecked("make symlink " + link, {"/bin/sh", "-c", R"SH(umask 022
if [ -e "$2" ] && [ ! -L "$2" ]; then echo "$2 exists and is no symlink" >&2; exit 1; fi
mkdir -p -- "$(dirname -- "$2")" && ln -sfn -- "$1" "$2")SH",
                                       "sh", target, link});
}

// Removing through the overlay is what leaves whiteouts for the machine's
// paths; writing whiteouts into the upper layer directly would not be seen
// by an overlay that has already looked the path up.
void SandboxHost::hide(const std::string& path) { execChecked("hide " + path, {"/bin/rm", "-rf", "--", path}); }

void SandboxHost::copyIn(const std::string& machinePath, const std::string& hostPath) {
  struct stat info {};
  if (::stat(machinePath.c_str(), &info) != 0) throwErrno("copy in " + machinePath);
  if (!S_ISDIR(info.st_mode)) {
    std::ifstream file(machinePath, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) throwError("cannot read " + machinePath);
    write(hostPath, content, info.st_mode);
    return;
  }
  // The source may lie where the host cannot see it (/tmp, another mount), so it travels as a tar stream.
  const auto archive = runProcess({"/bin/tar", "-C", machinePath, "--numeric-owner", "-cf", "-", "."},
                                  {std::string("PATH=") + kDefaultPath, "LC_ALL=C"}, "", 300s);
  if (archive.status != 0) throwError("cannot archive " + machinePath + ": " + archive.err);
  execChecked("copy " + machinePath + " to " + hostPath,
              {"/bin/sh", "-c", R"SH(mkdir -p -- "$1" && tar -C "$1" --numeric-owner -xpf -)SH", "sh", hostPath},
              {.input = archive.out, .timeout = 300s});
}

std::string SandboxHost::read(const std::string& path) const {
  return execChecked("read " + path, {"/bin/cat", "--", path}).out;
}

bool SandboxHost::exists(const std::string& path) const {
  return exec({"/bin/sh", "-c", R"SH(test -e "$1" || test -L "$1")SH", "sh", path}, {}).status == 0;
}

// The tmpfs is filled beside the path and moved over it only when complete.
void SandboxHost::mountTmpfs(const std::string& path, size_t bytes) {
  execChecked("mount a tmpfs at " + path, {"/bin/sh", "-c", R"SH(set -e
mkdir -p -- "$1"
staging=$(mktemp -d /run/.tmpfs-XXXXXX)
mount -t tmpfs -o "size=$2,mode=$(stat -L -c %a -- "$1"),uid=$(stat -L -c %u -- "$1"),gid=$(stat -L -c %g -- "$1")" \
  tmpfs "$staging"
if ! cp -a -- "$1/." "$staging/"; then umount "$staging"; rmdir "$staging"; exit 1; fi
mount --move "$staging" "$1"
rmdir "$staging")SH",
                                           "sh", path, std::to_string(bytes)});
}
