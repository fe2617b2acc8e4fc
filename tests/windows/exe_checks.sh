#!/usr/bin/env bash
# virellock.exe (and virellock-cli.exe) stands alone: it imports nothing but Windows' own DLLs
# (no Qt, OpenSSL, zstd or C++ runtime DLL beside it), carries its resources (the window's
# icon and version) and a manifest that makes it take long paths, and runs from a folder that
# holds nothing else. Prints its size.
#   exe_checks.sh EXE
set -uo pipefail
source "$(dirname "$0")/wine_session.sh"
exe=$1

echo "$(basename "$exe"): $(stat -c %s "$exe") bytes ($(($(stat -c %s "$exe") / 1024)) KiB)"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
[ -n "$imports" ] || fail "objdump found no imports in $exe"
start_wine
system32="$WINEPREFIX/drive_c/windows/system32"
for dll in $imports; do
    if grep -qiE '^(qt|lib|zstd|ssl|crypto)' <<<"$dll"; then
        fail "imports $dll, which would have to ship beside the exe"
    elif [ -n "$(find "$system32" -maxdepth 1 -iname "$dll" -print -quit)" ]; then
        ok "imports $dll (a Windows DLL)"
    elif grep -qiE '^api-ms-win-' <<<"$dll"; then
        # API sets name parts of Windows' own DLLs; the loader resolves them (Windows 8 on).
        ok "imports $dll (a Windows API set)"
    else
        fail "imports $dll, which is not a Windows DLL"
    fi
done
resources=$(x86_64-w64-mingw32-objdump -h "$exe" | grep -c '\.rsrc')
[ "$resources" -ge 1 ] && ok "has a resource section" || fail "no resource section"
grep -q '<ws2016:longPathAware>true</ws2016:longPathAware>' "$exe" &&
    ok "its manifest makes it take long paths" || fail "no long-path manifest"
stop_if_failed
echo "all exe checks passed"
