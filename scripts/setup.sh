#!/usr/bin/env bash
# Installs what building, running and testing the tool needs, from Debian's
# packages only. Safe to run again: it does nothing when everything is there.
# Works on Debian 12 and 13, and on derivatives with the same package names
# and the i386 architecture available to dpkg (32-bit Wine needs it). Runs
# apt-get as root, through sudo when not root; with neither, it says in one
# line what to run as root and fails.
#
#   scripts/setup.sh [windows]   everything, or only what the Windows builds and
#                                the Wine tests need (the test command installs
#                                those first, to start them sooner)
set -euo pipefail

PACKAGES=(
  cmake ninja-build
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick x11-utils
  python3 procps psmisc
  git # the release's commit time and its check for a tree that differs from the commit
)
if [ "${1:-}" != windows ]; then
  PACKAGES+=(g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev gcovr)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

packages="${#missing[@]} Debian packages" are="are"
if [ ${#missing[@]} -eq 1 ]; then packages="1 Debian package" are="is"; fi
has_i386=false
if dpkg --print-foreign-architectures | grep -qx i386; then has_i386=true; fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    commands="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
    if ! $has_i386; then commands="dpkg --add-architecture i386 && $commands"; fi
    echo "setup: $packages $are missing; run $0 as root, or install them as root: $commands" >&2
    exit 1
  fi
  SUDO="sudo"
fi
echo "setup: installing $packages (first run only; its time is under Figures in the README): ${missing[*]}"
if ! $has_i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one list (a size or hash mismatch) while the
# others are fresh: the install below still finds every package in those, and
# fails with apt's own words when one is not there.
$SUDO apt-get update -q ||
  echo "setup: apt-get update could not fetch every package list (above); installing from those it has"
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
