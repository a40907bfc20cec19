#!/usr/bin/env bash
# Checks that the release is reproducible: scripts/package.sh runs twice, in
# build trees of different paths, the second starting after the first has
# finished, and both programs and the zip must come out byte for byte the
# same. Also checks that the scripts are executable, that no path of the build
# machine is in a program and that the zip's checksums (SHA256SUMS in CR LF lines)
# match. Both builds use this machine's toolchain, so it shows sameness for one
# Debian release's packages. Its time is in docs/figures.md.
#
#   CFS_REPRO_DIR  where both builds go (default build/rel-repro), emptied first
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
work=${CFS_REPRO_DIR:-build/rel-repro}
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "check_reproducible: FAILED: $*" >&2
  exit 1
}

for script in scripts/*.sh; do # as the README runs them; git's mode is what a clone gets
  mode=$(git ls-files -s "$script" 2>/dev/null | cut -c1-6)
  [ -x "$script" ] && [ "$mode" != 100644 ] || fail "$script is not executable (git mode ${mode:-unknown})"
done

# The release refuses a guide over 250 lines or with a line over 76 columns,
# before it builds anything.
seq 251 >"$work/guide-long.txt" && printf '%077d\n' 0 >"$work/guide-wide.txt"
for refused in "long:over 250 lines" "wide:over 76 columns"; do
  CFS_USER_GUIDE="$work/guide-${refused%%:*}.txt" CFS_PACKAGE_UNCOMMITTED=1 CFS_RELEASE_BUILD_PREFIX="$work/refused" \
    CFS_DIST_DIR="$work/refused-dist" bash scripts/package.sh >"$work/refused.log" 2>&1 &&
    fail "a ${refused%%:*} guide was packaged"
  grep -qF "${refused#*:}" "$work/refused.log" || fail "a ${refused%%:*} guide: $(cat "$work/refused.log")"
done

# One entry time for both runs: a commit made between them would otherwise
# change the default and make the zips differ for a reason of no interest.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)}

build() { # name build-prefix
  # The tree as it is, committed or not: what is checked is that its bytes
  # repeat, not that it is a release.
  CFS_PACKAGE_UNCOMMITTED=1 CFS_RELEASE_BUILD_PREFIX="$2" CFS_DIST_DIR="$work/$1-dist" bash scripts/package.sh \
    >"$work/$1.log" 2>&1 || { cat "$work/$1.log" >&2; fail "the $1 package run failed"; }
}
build first "$work/first/release"
# File times and the clock move on; none of them may reach the output.
sleep 1
build second "$work/second-build-tree/rel"

for arch in i686 x86_64; do
  a="$work/first/release-$arch/dialog/CallForwardingSetting.exe"
  b="$work/second-build-tree/rel-$arch/dialog/CallForwardingSetting.exe"
  cmp "$a" "$b" || fail "the $arch program differs between the two builds"
  # A source or build path in the image would tie it to this machine.
  for path in "$root" "$work"; do
    if grep -qaF "$path" "$a"; then
      fail "$a holds the path $path"
    fi
  done
  echo "check_reproducible: $arch program identical, $(wc -c <"$a") bytes, sha256 $(sha256sum <"$a" | cut -d' ' -f1)"
done

zip=$(basename "$(ls "$work"/first-dist/*.zip)")
cmp "$work/first-dist/$zip" "$work/second-dist/$zip" || fail "$zip differs between the two runs"

unpacked="$work/unpacked"
python3 -m zipfile -e "$work/first-dist/$zip" "$unpacked"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "$zip does not match its SHA256SUMS"
(cd "$work/first-dist" && sha256sum --quiet -c "$zip.sha256") || fail "$zip does not match its $zip.sha256"
sums=$unpacked/SHA256SUMS # a line per other file, ending in CR LF: Notepad of XP to 8.1 knows no other end
[ "$(grep -c '' "$sums")" = 4 ] && [ "$(grep -c $'\r$' "$sums")" = 4 ] && [ -z "$(tail -c 1 "$sums")" ] ||
  fail "SHA256SUMS does not hold 4 lines ending in CR LF"
echo "check_reproducible: $zip identical, $(wc -c <"$work/first-dist/$zip") bytes, sha256 $(sha256sum <"$work/first-dist/$zip" | cut -d' ' -f1)"
