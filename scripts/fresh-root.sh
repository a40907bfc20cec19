#!/usr/bin/env bash
# Runs a command on a fresh clone of the project in a brand-new Debian root:
# what a newcomer gets on a freshly installed machine of that release.
#
#   scripts/fresh-root.sh [-k] RELEASE 'COMMAND'   e.g. ... trixie 'bash scripts/test.sh'
#
# Run it as root (debootstrap, chroot and mounts need it), with debootstrap
# installed (apt-get install debootstrap). RELEASE: bookworm (12) or trixie (13).
# The clone is of the committed main of the repository holding this script:
# changes not committed are not in it. COMMAND runs in the clone, /root/project,
# under bash with a minimal environment; its output is shown and saved in a log,
# and the last line gives its exit code and time. Exit code: the command's (2,
# with one line, when the script cannot run it).
#
# The base root of a release (debootstrap --variant=minbase from this machine's
# apt mirror) is made once and kept in $FRESH_ROOT_DIR/base-RELEASE (default
# /var/tmp/cfs-fresh-root; delete it for a newer one). Each run works on a copy,
# run-RELEASE.*, removed afterwards unless -k; the log is next to it. The root
# gets proc, a read-only sys and a /dev of its own, never the host's: package
# scripts run as root in it could replace the host's devices. At the end, even
# on Ctrl+C, whatever still runs in the root is ended and every mount undone.
set -u

me=fresh-root.sh
fail() { echo "$me: $*" >&2; exit 2; }
keep=0
if [ "${1:-}" = -k ]; then keep=1; shift; fi
{ [ $# -eq 2 ] && [ -n "$2" ]; } || fail "usage: $me [-k] RELEASE 'COMMAND' (as root; RELEASE bookworm or trixie)"
case $1 in
  bookworm | 12) release=bookworm ;;
  trixie | 13) release=trixie ;;
  *) fail "unknown release $1 (bookworm or trixie)" ;;
esac
cmd=$2
command -v debootstrap >/dev/null 2>&1 || fail "debootstrap is needed (apt-get install debootstrap)"
[ "$(id -u)" -eq 0 ] || fail "must run as root (debootstrap, chroot and mounts need it)"
repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel 2>/dev/null) || fail "$0 is not in a git clone"
git -C "$repo" rev-parse -q --verify main >/dev/null || fail "$repo has no branch main"

dir=${FRESH_ROOT_DIR:-/var/tmp/cfs-fresh-root}
dir=$(mkdir -p "$dir" && cd "$dir" && pwd -P) || fail "cannot make $dir"
base=$dir/base-$release run=""

# The processes whose root is $1, and the mounts under it (innermost first).
pids_in() { for p in /proc/[0-9]*; do [ "$(readlink "$p/root" 2>/dev/null)" = "$1" ] && echo "${p#/proc/}"; done; }
mounts_in() { awk -v d="$1/" 'index($2, d) == 1 { print $2 }' /proc/self/mounts | sort -r; }
release_root() { # ends what runs in root $1 (TERM, then KILL), undoes its mounts; fails if any remains
  local sig pids m
  for sig in TERM KILL; do
    mapfile -t pids < <(pids_in "$1")
    [ ${#pids[@]} -eq 0 ] || { kill -"$sig" "${pids[@]}" 2>/dev/null; sleep 1; }
  done
  for m in $(mounts_in "$1"); do umount "$m" 2>/dev/null || umount -l "$m"; done
  [ -z "$(mounts_in "$1")" ]
}
finish() {
  [ -n "$run" ] || return 0
  if ! release_root "$run"; then echo "$me: mounts remain under $run; it is left there" >&2
  elif [ "$keep" = 1 ]; then echo "$me: the root is kept in $run" >&2
  else rm -rf --one-file-system "$run"; fi
  rm -f "$run.out"
  run=""
}
trap finish EXIT; trap 'exit 130' INT; trap 'exit 143' TERM

exec 9>"$dir/.lock-$release" && flock 9 # one debootstrap of a release at a time
if [ ! -x "$base/usr/bin/bash" ]; then
  mirror=$(awk '$1 == "URIs:" { for (i = 2; i <= NF; i++) print $i }
    $1 == "deb" { sub(/\[[^]]*\]/, ""); print $2 }' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -E -m 1 '/debian/?$')
  echo "$me: making the base root of $release in $base from ${mirror:=http://deb.debian.org/debian} (once)"
  { release_root "$base.partial" && rm -rf --one-file-system "$base" "$base.partial"; } || fail "cannot clear $base"
  { debootstrap --variant=minbase "$release" "$base.partial" "$mirror" >"$base.log" 2>&1 &&
    mv "$base.partial" "$base"; } || fail "debootstrap failed (log: $base.log)"
fi
exec 9>&-

run=$(mktemp -d "$dir/run-$release.XXXXXX") || exit 2
log=$run.log
{ chmod 755 "$run" && cp -a "$base/." "$run/"; } || fail "copying $base failed"
cp -L /etc/resolv.conf "$run/etc/resolv.conf" 2>/dev/null
# Services are not started in the root: they would outlive the run and act on this machine's kernel.
printf '#!/bin/sh\nexit 101\n' >"$run/usr/sbin/policy-rc.d" && chmod 755 "$run/usr/sbin/policy-rc.d"
git clone -q --branch main "$repo" "$run/root/project" || fail "cloning $repo failed"

{ mount -t proc proc "$run/proc" && mount --bind "$run/proc/sys" "$run/proc/sys" &&
  mount -o remount,bind,ro "$run/proc/sys" && mount -t sysfs -o ro sysfs "$run/sys" &&
  mount -t tmpfs -o mode=755,nosuid dev "$run/dev"; } || fail "mounting proc, sys or dev in $run failed"
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
  read -r name major minor <<<"$node"
  mknod -m 666 "$run/dev/$name" c "$major" "$minor" || fail "making $run/dev/$name failed"
done
{ mkdir "$run/dev/pts" "$run/dev/shm" && ln -s pts/ptmx "$run/dev/ptmx" && ln -s /proc/self/fd "$run/dev/fd" &&
  ln -s fd/0 "$run/dev/stdin" && ln -s fd/1 "$run/dev/stdout" && ln -s fd/2 "$run/dev/stderr" &&
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$run/dev/pts" &&
  mount -t tmpfs -o mode=1777,nosuid,nodev shm "$run/dev/shm"; } || fail "setting up $run/dev failed"

# In the background so that the traps act at once (env undoes the ignoring of
# Ctrl+C bash gives it); its output goes through a pipe to tee, which the script
# waits for once the root is ended, as a process left there may hold it open.
mkfifo "$run.out" || fail "making $run.out failed"
tee "$log" <"$run.out" &
start=$(date +%s)
# shellcheck disable=SC2016 # $1 is expanded by the bash in the root
env --default-signal=INT,QUIT chroot "$run" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -c 'cd /root/project && eval "$1"' bash "$cmd" <&0 >"$run.out" 2>&1 &
wait $!
rc=$?
seconds=$(($(date +%s) - start))
finish
wait
echo "$me: '$cmd' on a fresh $release root: exit $rc in $seconds s (log: $log)"
exit "$rc"
