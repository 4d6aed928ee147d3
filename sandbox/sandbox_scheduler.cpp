// The scheduler inside a host: starting, stopping and watching Debian's cupsd.
#include "sandbox/sandbox_internal.h"

using namespace sandbox_internal;

void SandboxHost::prepareCupsConfig() {
  execChecked("prepare cupsd.conf", {"/bin/sh", "-c", R"SH(f=/etc/cups/cupsd.conf
[ -f "$f" ] || { echo "the host has no $f" >&2; exit 1; }
if grep -q '^[[:space:]]*DirtyCleanInterval' "$f"; then
  sed -i 's/^[[:space:]]*DirtyCleanInterval.*/DirtyCleanInterval 0/' "$f"
else
  printf '\n# Write state files at once, so tests see them after each request\nDirtyCleanInterval 0\n' >> "$f"
fi)SH"});
}

void SandboxHost::startCups() {
  if (cupsRunning()) return;
  prepareCupsConfig();
  // setsid from a background job execs in place, so $! is cupsd's own pid.
  const auto started = execChecked(
      "start cupsd", {"/bin/sh", "-c", "setsid /usr/sbin/cupsd -f </dev/null >/run/cupsd.out 2>&1 & echo $!"});
  cupsPid_ = std::stoi(started.out);
  const auto ready = exec({"/bin/bash", "-c", R"SH(
for i in $(seq 1 1000); do
  # Until the background job has exec'd, the pid names a shell; only a gone or dead process is an exit.
  state=$(awk '{print $3}' /proc/$1/stat 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ] || { echo "cupsd exited" >&2; exit 1; }
  if [ -S /run/cups/cups.sock ] &&
     { printf 'HEAD / HTTP/1.0\r\n\r\n' >&3; IFS= read -r -t 5 line <&3; } 2>/dev/null 3<>/dev/tcp/127.0.0.1/631 &&
     [[ $line == HTTP/* ]]; then
    exit 0
  fi
  sleep 0.01
done
echo "cupsd did not answer on localhost:631" >&2; exit 1)SH",
                           "bash", std::to_string(*cupsPid_)},
                          {});
  if (ready.status == 0) return;
  const auto log = exec({"/bin/sh", "-c", "cat /run/cupsd.out; tail -n 20 /var/log/cups/error_log"}, {});
  stopCups();
  throwError("cupsd did not start: " + ready.err + log.out);
}

bool SandboxHost::cupsRunning() const {
  if (!cupsPid_) return false;
  return exec({"/bin/sh", "-c", R"SH([ "$(cat /proc/$1/comm 2>/dev/null)" = cupsd ])SH", "sh",
               std::to_string(*cupsPid_)},
              {})
             .status == 0;
}

void SandboxHost::stopCups() {
  if (!cupsPid_) return;
  const auto pid = std::to_string(*cupsPid_);
  cupsPid_.reset();
  execChecked("stop cupsd", {"/bin/sh", "-c", R"SH(kill -TERM "$1" 2>/dev/null || exit 0
i=0
while [ "$(cat /proc/$1/comm 2>/dev/null)" = cupsd ]; do
  i=$((i + 1))
  if [ $i -gt 1000 ]; then kill -KILL "$1"; echo "cupsd ignored SIGTERM for 10 s" >&2; exit 1; fi
  sleep 0.01
done)SH",
                             "sh", pid});
}

void SandboxHost::restartCupsIfDown() {
  // A cupsd that has exited stays a zombie until the host's init reaps it.
  const auto found = exec({"/bin/sh", "-c", R"SH(for stat in /proc/[0-9]*/stat; do
  read -r pid name state rest 2>/dev/null <"$stat" || continue
  [ "$name" = "(cupsd)" ] && [ "$state" != Z ] && exit 0
done
exit 1)SH"},
                          {});
  if (found.status == 0) return;
  cupsPid_.reset();
  startCups();
}
