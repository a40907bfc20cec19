#!/bin/sh
# Checks the built program from the outside, as a bare Windows would meet it:
# it may import only system DLLs that every Windows has, it stays within its
# size budget, its code suits the processors and the stack walks of its
# Windows, and it carries its dialog, icon, manifest and version.
#
# usage: check_executable.sh OBJDUMP WINDRES PROGRAM.exe MAX_BYTES (0: no limit)
set -u

if [ $# -ne 4 ]; then
    echo "usage: $0 OBJDUMP WINDRES PROGRAM.exe MAX_BYTES" >&2
    exit 2
fi
objdump=$1
windres=$2
program=$3
limit=$4
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if [ ! -f "$program" ]; then
    echo "FAIL: $program does not exist" >&2
    exit 1
fi

# --- size ---
size=$(wc -c <"$program")
if [ "$limit" -gt 0 ] && [ "$size" -gt "$limit" ]; then
    fail "$program is $size bytes, over the limit of $limit"
fi

# --- imports: only KERNEL32, USER32, GDI32 and COMCTL32 ---
headers=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program" >&2; exit 1; }
dlls=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' |
    tr '[:lower:]' '[:upper:]' | sort -u)
for dll in $dlls; do
    case $dll in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | COMCTL32.DLL) ;;
    *) fail "imports $dll, which a bare Windows does not have or the program must not need" ;;
    esac
done
for needed in KERNEL32.DLL USER32.DLL GDI32.DLL; do
    printf '%s\n' "$dlls" | grep -qx "$needed" || fail "does not import $needed"
done
printf '%s\n' "$headers" | grep -q 'Subsystem[[:space:]]*0*2[[:space:]]' ||
    fail "is not a graphical (windows subsystem) program"

# --- machine code ---
code_note=
case $(printf '%s\n' "$headers" | sed -n 's/.*file format //p' | head -n 1) in
pei-x86-64)
    # x64 Windows walks every frame through the function table (exceptions
    # dispatched through a window procedure, debuggers, crash dumps); an empty
    # one means the code was built without unwind tables.
    pdata=$(printf '%s\n' "$headers" | awk '$1 == "Entry" && /Exception Directory/ { print $4; exit }')
    if [ -z "$pdata" ] || [ $((0x$pdata)) -eq 0 ]; then
        fail "has an empty exception directory: the code was built without unwind tables"
    else
        code_note="; exception directory $((0x$pdata)) bytes"
    fi
    ;;
pei-i386)
    # Windows XP runs on Pentium-class processors. Refused: the P6's
    # conditional moves (cmovCC, fcmovCC, f(u)comi(p)), any MMX or SSE
    # register operand (%mmN, %xmmN and wider), and the MMX/SSE instructions
    # that name no such register (emms, MXCSR, fences, prefetches,
    # non-temporal and cache-line stores, fxsave/fxrstor). Read from the
    # mnemonic and operands of AT&T disassembly, with symbol names and
    # comments cut away.
    disassembly=$("$objdump" -d -M att --no-show-raw-insn "$program") ||
        { echo "FAIL: $objdump cannot disassemble $program" >&2; exit 1; }
    beyond_pentium=$(printf '%s\n' "$disassembly" |
        sed -n 's/^ *[0-9a-f][0-9a-f]*:\t//p' | sed 's/<[^>]*>//g; s/#.*//' |
        grep -E -e '(^|[[:space:]])f?cmov' \
                -e '(^|[[:space:]])fu?comip?([[:space:]]|$)' \
                -e '%[xyz]?mm[0-9]' \
                -e '(^|[[:space:]])(emms|(ld|st)mxcsr|[lms]fence|prefetch[a-z0-9]*|movnti[a-z]*|clflush[a-z]*|fx(save|rstor)[0-9]*)([[:space:]]|$)')
    if [ -n "$beyond_pentium" ]; then
        fail "uses $(printf '%s\n' "$beyond_pentium" | wc -l) instruction(s) a Pentium lacks (cmov, MMX, SSE), e.g. $(printf '%s\n' "$beyond_pentium" | head -n 3 | tr -s ' \t' ' ' | paste -sd '|' -)"
    else
        code_note="; no cmov, MMX or SSE"
    fi
    ;;
*) fail "is neither an i386 nor an x86-64 Windows image" ;;
esac

# --- resources, read back out of the program ---
resources=$("$windres" -i "$program" -J coff -O rc 2>&1) || {
    fail "$windres cannot read the resources: $resources"
    resources=
}
template=$(printf '%s\n' "$resources" | sed -n '/^"MAIN_DIALOG" DIALOG/,/^END/p')
if [ -z "$template" ]; then
    fail "has no dialog template MAIN_DIALOG"
else
    printf '%s\n' "$template" | grep -q '^CAPTION "Call Forwarding Setting"$' ||
        fail "MAIN_DIALOG has not the caption \"Call Forwarding Setting\""
    controls=$(printf '%s\n' "$template" | grep -c '^[[:space:]]*CONTROL ')
    [ "$controls" -eq 12 ] || fail "MAIN_DIALOG has $controls controls, not 12"
    # Enter and Escape end the dialog only because no control takes the
    # identifiers of OK and Cancel and no push button is the default.
    printf '%s\n' "$template" | grep -Eq '^[[:space:]]*CONTROL "[^"]*", (1|2),' &&
        fail "MAIN_DIALOG has a control with the identifier 1 or 2"
    printf '%s\n' "$template" |
        grep -Eiq '"BUTTON", 0x[0-9a-f]*1,' &&
        fail "MAIN_DIALOG has a default push button"
fi
printf '%s\n' "$resources" | grep -q '^103 14 ' || fail "has no icon group 103"
group=$(printf '%s\n' "$resources" | sed -n '/^103 14 /,/^END/p')
printf '%s\n' "$group" | grep -q 'Has 1 elements' ||
    fail "icon group 103 does not hold exactly one image"
# width 32, height 32, 16 colours; one plane of 4 bits
printf '%s\n' "$group" | grep -q '"\\040\\040\\020\\000", 1, 4,' ||
    fail "the icon is not one 32x32 image in 16 colours"
manifest=$(printf '%s\n' "$resources" | sed -n '/^1 24 /,/^END/p')
if [ -z "$manifest" ]; then
    fail "has no manifest (RT_MANIFEST 1)"
else
    for word in 'level=""asInvoker""' 'supportedOS' 'Microsoft.Windows.Common-Controls'; do
        printf '%s\n' "$manifest" | grep -q "$word" || fail "the manifest lacks $word"
    done
    # A DPI-aware program is not scaled by the system, and its raster fonts
    # stay small on a scaled screen; per-monitor awareness also lets the
    # dialog manager replace the status list's font.
    printf '%s\n' "$manifest" | grep -Eq 'dpiAware|dpiAwareness' &&
        fail "the manifest declares DPI awareness"
    # Common controls 6 redirect the standard control classes; Windows XP
    # loads that DLL only for a program that imports its initialisation.
    if printf '%s\n' "$manifest" | grep -q 'Microsoft.Windows.Common-Controls'; then
        printf '%s\n' "$headers" | sed -n '/DLL Name: *[Cc][Oo][Mm][Cc][Tt][Ll]32/,/^$/p' |
            grep -Eq '[[:space:]]InitCommonControls(Ex)?$' ||
            fail "the manifest asks for the common controls but InitCommonControls(Ex) is not imported"
    fi
fi
printf '%s\n' "$resources" | grep -q 'VALUE "FileDescription", "Call Forwarding Setting"' ||
    fail "has no version information describing it as Call Forwarding Setting"

if [ "$failures" -ne 0 ]; then
    echo "$program: $failures check(s) failed" >&2
    exit 1
fi
echo "$program: $size bytes; imports $(echo $dlls)$code_note; resources present"
