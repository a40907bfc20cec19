#!/usr/bin/env bash
# Installs what building, running and testing the tool needs, from Debian's
# packages only. Safe to run again: it does nothing when everything is there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev gcovr
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine xvfb xauth xdotool imagemagick x11-utils
  python3 procps psmisc
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${#missing[@]} Debian packages (first run only, a few minutes): ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
