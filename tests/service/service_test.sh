#!/usr/bin/env bash
# The Debian package's service under a real systemd, booted for the test in private namespaces on
# an overlay of this machine's root, so that nothing of the host changes: the package is installed
# there with dpkg, a pseudo-terminal read by line-tap is the board at /dev/ttyUSB0, and the example
# producer unit of docs/service.md writes the position files. Root only; exits 77 (skipped) with the reason
# where it cannot run, or fails instead when STEER_SERVICE_TEST_REQUIRED is set (as in CI).
#
# Usage: service_test.sh PACKAGE LINE-TAP README SOURCE...
#   PACKAGE the .deb to test, made from the SOURCE files (it must not be older than any of them);
#   README the page whose example producer unit runs (docs/service.md).
set -euo pipefail

# The part that runs in the new namespaces: makes the system's root and becomes its systemd.
if [[ ${1:-} == --inside ]]; then
  mount -t tmpfs -o mode=0755 tmpfs "$2"
  cd "$2"
  mkdir upper work root
  mount -t overlay overlay -o lowerdir=/,upperdir=upper,workdir=work root
  cd root
  mount -t proc proc proc
  mount -t sysfs -o ro sysfs sys
  mount -t cgroup2 cgroup2 sys/fs/cgroup
  mount -t tmpfs -o mode=0755,nosuid tmpfs dev
  for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
    read -r name major minor <<<"$node"
    mknod -m 0666 "dev/$name" c "$major" "$minor"
  done
  mkdir dev/pts dev/shm
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts dev/pts
  ln -s pts/ptmx dev/ptmx
  ln -s /proc/self/fd dev/fd
  install -m 0600 /dev/null dev/ttyUSB0 # the board's place, empty: unplugged
  for d in run tmp dev/shm; do mount -t tmpfs -o mode=1777,nosuid tmpfs "$d"; done
  chmod 0755 run
  # A container's policy-rc.d would stop the maintainer scripts from starting or stopping units.
  rm -f usr/sbin/policy-rc.d
  printf '[Unit]\nRequires=basic.target\nAfter=basic.target\nAllowIsolate=yes\n' \
    >etc/systemd/system/service-test.target
  # No timers: apt's and man-db's daily jobs would compete for dpkg and the processors.
  ln -sf /dev/null etc/systemd/system/timers.target
  mkdir oldroot
  pivot_root . oldroot
  umount -l /oldroot
  rmdir /oldroot
  # systemd leaves mount propagation to a container's maker; shared, as on a real system, lets
  # the board's mount reach services that run already.
  mount --make-rshared /
  exec env -i container=steer-service-test /lib/systemd/systemd --unit=service-test.target
fi

fail() {
  echo "service test FAILED: $*" >&2
  if [[ -s ${work:-}/boot.log ]]; then cat "$work/boot.log" >&2; fi
  if [[ -n ${pid:-} ]]; then in_system journalctl -b -n 30 -o short-monotonic >&2 || true; fi
  exit 1
}
skip() {
  [[ -z ${STEER_SERVICE_TEST_REQUIRED:-} ]] || fail "it cannot run: $*"
  echo "service test skipped: $*"
  exit 77
}

package=$1 tap=$2 readme=$3
shift 3
bound=2.0
[[ $(id -u) == 0 ]] || skip "it needs root, to boot systemd in private namespaces"
[[ -x /lib/systemd/systemd ]] || skip "systemd is not installed"
[[ -f $package ]] || skip "no $package: build it first (cmake --workflow --preset service does)"
for source in "$@"; do
  [[ $package -nt $source ]] || skip "$package is older than $source: build the package again"
done
cgroot=""
for d in /sys/fs/cgroup/unified /sys/fs/cgroup; do
  [[ $(stat -f -c %T "$d" 2>/dev/null) == cgroup2fs ]] && cgroot=$d && break
done
cg=$cgroot/steer-service-test.$$
if [[ -z $cgroot ]] || ! mkdir "$cg" 2>/dev/null; then skip "no writable cgroup2 hierarchy here"; fi

work=$(mktemp -d)
unshare_pid="" pid="" tap_pid=""
cleanup() {
  [[ -z $tap_pid ]] || kill "$tap_pid" 2>/dev/null || true
  # Killing the system's first process ends its PID namespace, and with the last process in
  # there every mount made for it; the cgroups are then empty and can go.
  [[ -z $pid ]] || kill -KILL "$pid" 2>/dev/null || true
  [[ -z $unshare_pid ]] || wait "$unshare_pid" 2>/dev/null || true
  for _ in $(seq 100); do
    find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null || true
    [[ -d $cg ]] || break
    sleep 0.05
  done
  [[ ! -d $cg ]] || echo "service test: could not remove $cg" >&2
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
trap 'echo "service test FAILED: line $LINENO: a command failed" >&2' ERR

# Polls until the command succeeds; fails with the message $1 after 20 s.
await() {
  local what=$1 deadline=$((SECONDS + 20))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || fail "$what"
    sleep 0.05
  done
}
in_system() { nsenter -t "$pid" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
# Properties of steer.service, sorted by name: "ActiveState=active MainPID=12 ".
properties() {
  local name asked=()
  for name; do asked+=(-p "$name"); done
  in_system systemctl show "${asked[@]}" steer | sort | tr '\n' ' '
}
line=$work/line
line_ends() { [[ $(tail -c 2 "$line" | od -An -tx1 | tr -d ' \n') == "$1" ]]; }
in_journal() { in_system journalctl -u steer -o cat | grep -F "$1" >/dev/null; }
# Gives the producer, which copies it into the state folder every 100 ms, a new object position.
object_at() {
  echo "$1" >"$root/run/positions/b.new"
  mv "$root/run/positions/b.new" "$root/run/positions/b.txt"
}
exposure() {
  local rating
  rating=$(in_system systemd-analyze security --offline=yes "$1" |
    sed -n 's/.*exposure level.*: //p')
  echo "exposure of $1: $rating (bound $bound)"
  awk -v score="${rating%% *}" -v bound="$bound" 'BEGIN { exit !(score != "" && score <= bound) }' \
    || fail "$1 is more exposed than $bound"
}

started=$(date +%s%N)
mkdir "$work/system"
(
  echo "$BASHPID" >"$cg/cgroup.procs"
  exec unshare --mount --pid --fork --cgroup --uts --ipc --net --propagation private \
    "$0" --inside "$work/system"
) >"$work/boot.log" 2>&1 &
unshare_pid=$!
await "no system was started" pgrep -P "$unshare_pid" >/dev/null
pid=$(pgrep -P "$unshare_pid")
root=/proc/$pid/root
# Until systemd runs, the process's root may still be the host's.
started_systemd() { [[ $(cat "/proc/$pid/comm") == systemd && -S $root/run/systemd/private ]]; }
await "systemd did not start" started_systemd
state=$(timeout 60 nsenter -t "$pid" -a systemctl is-system-running --wait || true)
[[ $state =~ ^(running|degraded)$ ]] || fail "systemd did not boot: $state"
echo "booted ($state) in $((($(date +%s%N) - started) / 1000000)) ms"

# The package, as on a robot. Triggers (man-db's index) would only cost seconds.
cp "$package" "$root/tmp/steer.deb"
in_system dpkg -i --no-triggers /tmp/steer.deb >/dev/null
# The documented producer unit as it stands, with a producer that copies what a camera would see,
# each file renamed into place.
awk 'found && /^```$/ { exit } found && on { print } found && /^```ini$/ { on = 1 }
  /producer\.service`:$/ { found = 1 }' "$readme" >"$root/etc/systemd/system/producer.service"
grep -q '^ExecStart=/usr/local/bin/my-producer$' "$root/etc/systemd/system/producer.service" ||
  fail "no producer unit in $readme"
printf '%s\n' '#!/bin/sh' 'while :; do' '  cp /run/positions/b.txt b.new && mv b.new b.txt' \
  '  cp /run/positions/t.txt t.new && mv t.new t.txt' '  sleep 0.1' 'done' \
  >"$root/usr/local/bin/my-producer"
chmod 0755 "$root/usr/local/bin/my-producer"
mkdir -m 0755 "$root/run/positions"
cp "$(dirname "$readme")/../examples/t.txt" "$root/run/positions/t.txt"
object_at "(320.0, 240.0)"

# A pseudo-terminal shows what reaches the line, but systemd lets every unit open those; a node of
# a USB serial adapter (major 188), with no driver for it here, tells whether the unit would let
# steer open a real one: "No such device or address" from the kernel, not a refusal.
in_system mknod -m 0660 /dev/ttyUSB9 c 188 0
in_system chgrp dialout /dev/ttyUSB9
sed -e 's|^ExecStart=.*|ExecStart=/bin/sh -c "exec 3<>/dev/ttyUSB9"|' -e '/^\[Install\]/,$d' \
  "$root/usr/lib/systemd/system/steer.service" >"$root/run/systemd/system/device-probe.service"
echo "Restart=no" >>"$root/run/systemd/system/device-probe.service"
in_system systemctl daemon-reload
exposure /usr/lib/systemd/system/steer.service
exposure /etc/systemd/system/producer.service
in_system systemctl start device-probe || true # it may fail before it counts as started
probe() { in_system journalctl -u device-probe -o cat | grep ttyUSB9; }
await "the device probe's message is not in the journal" probe >/dev/null
[[ $(probe) == *"No such device or address"* ]] || fail "USB serial shut out: $(probe)"

# Started before the board is plugged in: it must reach it once it is there.
in_system systemctl enable --quiet --now steer producer
"$tap" "$root/dev/pts/ptmx" "$line" >"$work/pty" &
tap_pid=$!
await "line-tap gave no terminal" test -s "$work/pty"
pty=/dev/pts/$(cat "$work/pty")
in_system chgrp dialout "$pty" # as udev does for a serial adapter
in_system chmod 0660 "$pty"
in_system mount --bind "$pty" /dev/ttyUSB0
await "no goal-right frames (32 84) on the line" line_ends 3284
object_at "(100.0, 240.0)"
await "no object-left frames (32 82) after the object moved" line_ends 3282

in_system systemctl stop steer
await "the line did not end with the stop sequence (00 80)" line_ends 0080
stopped=$(properties ExecMainStatus Result)
[[ $stopped == "ExecMainStatus=0 Result=success " ]] || fail "after the stop: $stopped"

# SIGKILL sends no stop sequence, but systemd starts steer again; frames for the object moved
# back to the centre can only come from the new process.
in_system systemctl start steer
first=$(properties MainPID)
killed=$(date +%s%N)
in_system systemctl kill -s SIGKILL steer
restarted() {
  local now
  now=$(properties ActiveState MainPID NRestarts)
  [[ $now == "ActiveState=active MainPID="*" NRestarts=1 " && $now != *"$first"* ]]
}
await "not started again after SIGKILL" restarted
echo "started again $((($(date +%s%N) - killed) / 1000000)) ms after SIGKILL"
object_at "(320.0, 240.0)"
await "no goal-right frames (32 84) after the restart" line_ends 3284

# The unit's own stale limit: when the producer stops, the board is stopped a second later, and
# steering goes on when it writes again.
in_system systemctl stop producer
await "no stale message with the unit's limit" \
  in_journal "steer: no new positions for 1000 ms; board stopped"
await "no stop sequence when the positions went stale" line_ends 0080
in_system systemctl start producer
await "no steering message in the journal" in_journal "steer: positions changed; steering again"
await "no goal-right frames (32 84) after the producer came back" line_ends 3284

# A drop-in's limit instead: the producer stops, the line goes quiet after one stop sequence, and
# when it writes again (the object now right of centre) steering goes on.
in_system systemctl stop steer
await "no stop sequence before the drop-in" line_ends 0080
in_system mkdir -p /etc/systemd/system/steer.service.d
printf '[Service]\nEnvironment=STEER_OPTIONS=--stale-after=300\n' \
  >"$root/etc/systemd/system/steer.service.d/options.conf"
in_system systemctl daemon-reload
quiet_from=$(stat -c %s "$line")
in_system systemctl start steer
await "no goal-right frames (32 84) with --stale-after" line_ends 3284
in_system systemctl stop producer
await "no stale message in the journal" \
  in_journal "steer: no new positions for 300 ms; board stopped"
await "no stop sequence when the positions went stale" line_ends 0080
object_at "(400.0, 240.0)"
in_system systemctl start producer
await "no object-right frames (32 81) after the producer came back" line_ends 3281
# Before the last stop sequence the producer may have been late now and then on a busy machine.
sent=$(tail -c "+$((quiet_from + 1))" "$line" | od -An -v -tx1 | tr -d ' \n')
[[ $sent =~ ^(3284|0080)*0080(3281)+(32)?$ ]] ||
  fail "frames while stale, or no stop sequence: $(fold -w 64 <<<"$sent" | uniq -c | head)"

# Removing the package stops the board first.
in_system dpkg -r --no-triggers steer >/dev/null
await "no stop sequence when the package was removed" line_ends 0080
[[ $(properties LoadState) == "LoadState=not-found " ]] || fail "steer.service still loaded"
! in_journal "nap = " || fail "the echo is in the journal"
echo "service test passed in $((($(date +%s%N) - started) / 1000000)) ms"
