#!/usr/bin/env bash
# The Windows pieces that can be built and run on Linux:
#  - the resource script, compiled with MinGW's windres and read back: icon, version numbers,
#    and the Chinese file description (the script is UTF-8);
#  - the registry write (win32_registry.c), cross-compiled with MinGW with a small driver and
#    run under Wine; regedit then exports the key, which must hold the quoted program path.
# Exits 77 (a CTest skip) when Wine cannot run here; everything before that has passed then.
#   windows_pieces.sh SOURCE_DIR PROJECT_VERSION
set -uo pipefail
source "$(dirname "$0")/checks.sh"
src=$1 version=$2
skip=77

tmp=$(mktemp -d "${TMPDIR:-/tmp}/virellock-windows.XXXXXX")
wineserver=
cleanup() {
    if [ -n "$wineserver" ]; then
        WINEPREFIX="$tmp/prefix" "$wineserver" -k >/dev/null 2>&1
        WINEPREFIX="$tmp/prefix" "$wineserver" -w >/dev/null 2>&1
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
# A signal (CTest's timeout, Ctrl-C) ends the script through the EXIT trap too.
trap 'exit 1' HUP INT TERM
use_private_home "$tmp"
# Wine keeps its server socket under TMPDIR.
export TMPDIR="$tmp/tmp"
mkdir -p "$TMPDIR"

seconds_since() { echo "$(($(date +%s%N) / 1000000 - $1))ms"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# --- resource script -------------------------------------------------------------------------

rc="$src/resources/windows/virellock.rc"
if x86_64-w64-mingw32-windres -i "$rc" -O coff -o "$tmp/virellock_rc.o" &&
    x86_64-w64-mingw32-windres -i "$rc" -O res -o "$tmp/virellock.res" &&
    x86_64-w64-mingw32-windres -i "$tmp/virellock.res" -O rc -o "$tmp/readback.rc"; then
    ok "windres compiles the resource script"
    readback=$(cat "$tmp/readback.rc")

    # Version numbers: the project version, and a fourth part of 0.
    IFS=. read -r major minor patch <<<"$version"
    for line in "FILEVERSION $major, $minor, $patch, 0" "PRODUCTVERSION $major, $minor, $patch, 0" \
        "VALUE \"FileVersion\", \"$version.0\"" "VALUE \"ProductVersion\", \"$version.0\"" \
        'VALUE "OriginalFilename", "virellock.exe"' 'VALUE "Translation", 0x804, 1200'; do
        grep -qF -- "$line" <<<"$readback" && ok "$line" || fail "resource lacks: $line"
    done

    # The description must arrive as the UTF-16 of 文件加密工具, not as UTF-8 bytes read in a
    # legacy code page.
    description=$(printf '文件加密工具' | iconv -f UTF-8 -t UTF-16BE | od -An -tx1 -v |
        tr -d ' \n' | sed 's/\(....\)/\\x\1/g')
    if grep -qF -- "VALUE \"FileDescription\", L\"$description\"" <<<"$readback"; then
        ok "FileDescription is 文件加密工具"
    else
        fail "FileDescription is not 文件加密工具 ($description): $(grep FileDescription <<<"$readback")"
    fi

    # One group icon holding every image of the .ico.
    images=$(od -An -tu2 -j4 -N2 --endian=little "$src/resources/icons/virellock.ico" | tr -d ' ')
    icons=$(grep -c 'RT_ICON \*/' <<<"$readback")
    groups=$(grep -c 'RT_GROUP_ICON \*/' <<<"$readback")
    [ "$groups" -eq 1 ] && [ "$icons" -eq "$images" ] && ok "one icon group with $icons images" ||
        fail "$groups icon group(s) with $icons images; the .ico has $images"
else
    fail "windres could not compile $rc"
fi

# --- registry write --------------------------------------------------------------------------

driver="$tmp/registry_driver.exe"
if ! x86_64-w64-mingw32-gcc -municode -std=c11 -Wall -Wextra -Wpedantic -Werror -I"$src/src" \
    "$src/tests/packaging/registry_driver.c" "$src/src/host/host_services/win32_registry.c" \
    -o "$driver"; then
    fail "MinGW could not compile win32_registry.c with the driver"
    exit 1
fi
ok "win32_registry.c compiles warning-free as C with MinGW"

stop_if_failed

# Debian's wine64 keeps its loader out of the PATH.
wine=$(command -v wine64 || dpkg -L wine64 2>/dev/null | grep -m1 '/wine64$' || true)
if [ -z "$wine" ] || [ ! -x "$wine" ]; then
    echo "SKIP: Wine (Debian package wine64) is not installed; the registry write was compiled but not run"
    exit $skip
fi
wineserver=$(command -v wineserver || true)
[ -x "$(dirname "$wine")/wineserver64" ] && wineserver="$(dirname "$wine")/wineserver64"

# A prefix of our own; no Mono, Gecko or menu entries; no display needed. The UTF-8 locale
# makes Wine pass the Chinese characters of the command line through intact.
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" \
    LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
start=$(now_ms)
# The registry files appear only when wineserver saves them, so look for the Windows folder.
if ! "$wine" wineboot -i >"$tmp/wineboot.log" 2>&1 || [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    echo "SKIP: Wine cannot set up a prefix here, so the registry write was compiled but not run:"
    cat "$tmp/wineboot.log"
    exit $skip
fi
echo "Wine prefix ready in $(seconds_since "$start")"

key='Folder\shell\Virellock\command'
# value written<TAB>the line regedit exports for it. The first write creates the key, the
# second replaces the value.
while IFS=$'\t' read -r value expected; do
    if ! "$wine" "$driver" "$key" "$value" >"$tmp/driver.log" 2>&1; then
        fail "writing $value failed: $(cat "$tmp/driver.log")"
        continue
    fi
    rm -f "$tmp/out.reg"
    "$wine" regedit /E "$tmp/out.reg" "HKEY_CLASSES_ROOT\\$key" >"$tmp/regedit.log" 2>&1
    if [ ! -s "$tmp/out.reg" ]; then
        fail "regedit exported nothing for $value: $(cat "$tmp/regedit.log")"
        continue
    fi
    if [ "$(od -An -tx1 -N2 "$tmp/out.reg" | tr -d ' ')" != fffe ]; then
        fail "out.reg does not start with a UTF-16LE byte order mark"
    fi
    exported=$(iconv -f UTF-16LE -t UTF-8 "$tmp/out.reg" | sed '1s/^\xef\xbb\xbf//' | tr -d '\r' |
        sed '/^$/d')
    wanted=$(printf '%s\n' 'Windows Registry Editor Version 5.00' \
        "[HKEY_CLASSES_ROOT\\$key]" "$expected")
    if [ "$exported" = "$wanted" ]; then
        ok "default value of HKEY_CLASSES_ROOT\\$key is $value"
    else
        fail "export after writing $value differs (- expected, + exported):"
        diff <(echo "$wanted") <(echo "$exported") >&2
    fi
done <<'EOF'
"C:\virellock.exe"	@="\"C:\\virellock.exe\""
"C:\Program Files\文件 工具\virellock.exe"	@="\"C:\\Program Files\\文件 工具\\virellock.exe\""
EOF
echo "Wine part took $(seconds_since "$start")"

stop_if_failed
echo "all Windows checks passed"
