#!/usr/bin/env bash
# Builds the release a Windows user downloads: both programs in release form,
# the user's guide (docs/user-guide.txt, plain text with Windows line ends,
# the version written where it says @VERSION@; refused over 250 lines, with
# a line over 76 columns, or with characters beyond ASCII), the licence and
# their checksums (SHA256SUMS, also with Windows line ends), in
#   dist/call-forwarding-setting-<version>-windows.zip
# with the version from VERSION. With the same toolchain (the same Debian
# release's packages), the same sources give the same zip, byte for byte,
# wherever and whenever they are built (scripts/check_reproducible.sh).
#
#   CFS_RELEASE_BUILD_PREFIX  build trees <prefix>-i686 and <prefix>-x86_64
#                             (default build/release), apart from the test
#                             builds
#   CFS_DIST_DIR              where the zip goes (default dist); relative
#                             paths are taken from the repository's root
#   SOURCE_DATE_EPOCH         time of the zip's entries (default: the last
#                             commit's time; outside git 2026-01-01)
#   CFS_PACKAGE_UNCOMMITTED   1 packages a working tree that differs from its
#                             commit; otherwise such a tree is refused
#   CFS_USER_GUIDE            the guide to ship (default docs/user-guide.txt)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

build_prefix=${CFS_RELEASE_BUILD_PREFIX:-build/release}
dist=${CFS_DIST_DIR:-dist}

fail() {
  echo "package: $*" >&2
  exit 1
}

version=$(head -n 1 VERSION)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "VERSION holds '$version', not MAJOR.MINOR.PATCH"
IFS=. read -r major minor patch <<<"$version"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)
fi
[[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH is '$SOURCE_DATE_EPOCH', not seconds"
# A release must be rebuildable from its commit: a tree that differs from it
# is refused, unless CFS_PACKAGE_UNCOMMITTED=1 says that a zip of the tree as
# it is, is what is wanted (the reproducibility check, work in progress).
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  [ "${CFS_PACKAGE_UNCOMMITTED:-0}" = 1 ] ||
    fail "the working tree differs from its commit; commit first, or set CFS_PACKAGE_UNCOMMITTED=1"
  echo "package: note: the working tree differs from its commit; the zip holds the tree as it is"
fi

# The guide as shipped, checked before anything is built: lines of at most 76
# columns fit any window 80 wide, and 250 lines keep it short enough to read.
guide_source=${CFS_USER_GUIDE:-docs/user-guide.txt}
guide="$build_prefix-user-guide.txt"
mkdir -p "$(dirname "$guide")"
sed "s/@VERSION@/$version/g" "$guide_source" >"$guide"
LC_ALL=C awk -v said="package: $guide_source" '
  { sub(/\r$/, "") }
  length($0) > 76 && !wide { wide = NR " has " length($0) " columns" }
  /[\200-\377]/ && !beyond { beyond = NR }
  END {
    if (NR > 250) { print said " has " NR " lines, over 250 lines"; bad = 1 }
    if (wide) { print said ": line " wide ", over 76 columns"; bad = 1 }
    if (beyond) { print said ": line " beyond " holds characters beyond ASCII"; bad = 1 }
    exit bad
  }' "$guide" >&2 || exit 1

# The programs must not owe their sameness to this variable (the linker would
# take its time stamp from it): a plain build of the preset gives the same bytes.
no_epoch=(env -u SOURCE_DATE_EPOCH)

declare -A program
for arch in i686 x86_64; do
  tree="$build_prefix-$arch"
  mkdir -p "$tree"
  echo "package: building the $arch program in $tree"
  "${no_epoch[@]}" cmake --preset "mingw-$arch" -B "$tree" -DCFS_TESTS=OFF >"$tree/package-configure.log" 2>&1 ||
    { cat "$tree/package-configure.log" >&2; fail "configuring $tree failed"; }
  "${no_epoch[@]}" cmake --build "$tree" --target CallForwardingSetting >"$tree/package-build.log" 2>&1 ||
    { tail -n 40 "$tree/package-build.log" >&2; fail "building $tree failed"; }
  # The same outside checks as the test command: imports, size, resources.
  ctest --test-dir "$tree" -R '^dialog_executable_' --output-on-failure >"$tree/package-check.log" 2>&1 ||
    { cat "$tree/package-check.log" >&2; fail "the $arch program fails its executable check"; }
  exe="$tree/dialog/CallForwardingSetting.exe"
  # A resource compiled without the build's version header says 0.0.0.0.
  resources=$("$arch-w64-mingw32-windres" -i "$exe" -J coff -O rc)
  for expected in "FILEVERSION $major, $minor, $patch, 0" "\"ProductVersion\", \"$version\"" \
    "name=\"\"CallForwardingSetting\"\" version=\"\"$major.$minor.$patch.0\"\""; do
    grep -qF "$expected" <<<"$resources" || fail "$exe does not carry $expected"
  done
  program[$arch]=$exe
done

mkdir -p "$dist"
zip="$dist/call-forwarding-setting-$version-windows.zip"
python3 - "$zip" "$SOURCE_DATE_EPOCH" "${program[i686]}" "${program[x86_64]}" "$guide" <<'EOF'
import hashlib, os, sys, time, zipfile

zip_path, epoch, x86, x64, guide = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]

def text(path):
    # Windows line ends, so that every editor on Windows shows the lines.
    # ASCII only: Notepad before Windows 10 reads a file without a byte-order
    # mark in the system's code page, where anything beyond ASCII is garbled.
    with open(path, "rb") as f:
        data = f.read()
    if any(byte > 0x7F for byte in data):
        sys.exit("package: %s holds characters beyond ASCII" % path)
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")

def binary(path):
    with open(path, "rb") as f:
        return f.read()

entries = {
    "LICENSE": text("LICENSE"),
    "user-guide.txt": text(guide),
    "x64/CallForwardingSetting.exe": binary(x64),
    "x86/CallForwardingSetting.exe": binary(x86),
}
# CR LF as well, for Notepad before Windows 10; sha256sum -c reads such lines
# (GNU coreutils 9.0 on: Debian 12 has 9.1, Debian 13 9.7).
entries["SHA256SUMS"] = "".join(
    "%s  %s\r\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in sorted(entries.items())
).encode()

# Everything a zip records besides the bytes is fixed: order, time, system,
# permissions, compression.
stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip cannot say before 1980
partial = zip_path + ".partial"
with zipfile.ZipFile(partial, "w") as archive:
    for name in sorted(entries):
        info = zipfile.ZipInfo(name, date_time=stamp)
        info.create_system = 3
        info.external_attr = 0o100644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(info, entries[name], compresslevel=9)
os.replace(partial, zip_path)
EOF

(cd "$dist" && sha256sum "$(basename "$zip")" >"$(basename "$zip").sha256")
echo "package: $zip, $(wc -c <"$zip") bytes"
python3 -m zipfile -l "$zip"
cat "$zip.sha256"
