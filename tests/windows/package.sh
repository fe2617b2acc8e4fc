#!/usr/bin/env bash
# Makes the Windows packages with cpack and checks them under Wine: the zip holds the two
# exes and the read-me and nothing else, and its command-line exe runs; the installer, run
# silently by an ordinary user, installs
# into the user's own programs folder with a Start-menu entry and an uninstaller registered
# for that user, and the uninstaller, run silently, takes all of it away again.
#   package.sh CPACK CPACK_CONFIG VERSION
set -uo pipefail
source "$(dirname "$0")/wine_session.sh"
cpack=$1 config=$2 version=$3
name="virellock-$version-win64"

(cd "$tmp" && "$cpack" --config "$config" -B "$tmp/packages" >"$tmp/cpack.log" 2>&1) ||
    { fail "cpack failed: $(tail -n 30 "$tmp/cpack.log")"; stop_if_failed; }
zip="$tmp/packages/$name.zip" installer="$tmp/packages/$name.exe"
for package in "$zip" "$installer"; do
    [ -f "$package" ] && ok "$(basename "$package"): $(stat -c %s "$package") bytes" ||
        fail "cpack made no $(basename "$package"): $(ls "$tmp/packages")"
done
stop_if_failed

listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
wanted=$(printf '%s\n' "$name/README.txt" "$name/virellock-cli.exe" "$name/virellock.exe")
[ "$listed" = "$wanted" ] && ok "the zip holds the two exes and the read-me" ||
    fail "the zip holds: $listed"

start_wine

# The command-line program from the zip, alone in a folder: it starts, and round-trips a file
# with DES, which comes from OpenSSL's legacy provider, linked in.
unzipped="$tmp/unzipped"
unzip -q -j "$zip" "$name/virellock-cli.exe" -d "$unzipped"
cli="$unzipped/virellock-cli.exe"
version_text=$(wine "$cli" --version 2>&1 | tr -d '\r')
[ "$version_text" = "virellock-cli $version" ] && ok "virellock-cli.exe --version: $version_text" ||
    fail "virellock-cli.exe --version said '$version_text'"
printf 'round trip\n' >"$unzipped/file.txt"
if (cd "$unzipped" &&
    printf 'pw\n' | wine "$cli" encrypt -q -m des file.txt &&
    ! grep -q 'round trip' file.txt &&
    printf 'pw\n' | wine "$cli" decrypt -q -m des file.txt) >"$tmp/cli.log" 2>&1 &&
    [ "$(cat "$unzipped/file.txt")" = 'round trip' ]; then
    ok "virellock-cli.exe encrypts and decrypts a file with DES"
else
    fail "virellock-cli.exe did not round-trip a file: $(cat "$tmp/cli.log")"
fi
profile=$(wine_profile)
installed="$profile/AppData/Local/Programs/Virellock"
menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Virellock"
uninstall_key='HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Uninstall\Virellock'

wine "$installer" /S >"$tmp/install.log" 2>&1 || fail "the installer failed: $(cat "$tmp/install.log")"
for file in virellock.exe virellock-cli.exe README.txt Uninstall.exe; do
    [ -f "$installed/$file" ] && ok "installed $file" || fail "$installed/$file is missing"
done
cmp -s "$installed/virellock.exe" <(unzip -p "$zip" "$name/virellock.exe") &&
    ok "the installed exe is the zip's" || fail "the installed exe differs from the zip's"
[ -f "$menu/Virellock.lnk" ] && ok "Start-menu entry" || fail "no Start-menu entry in $menu"
[ "$(registry_value "$uninstall_key" DisplayName)" = '"Virellock"' ] &&
    ok "uninstaller registered for this user" || fail "no $uninstall_key\\DisplayName"
[ "$(registry_value "$uninstall_key" DisplayVersion)" = "\"$version\"" ] &&
    ok "registered version $version" || fail "wrong or missing DisplayVersion"
if [ -n "$(find "$WINEPREFIX/drive_c/Program Files" -iname 'virellock*' -print -quit)" ]; then
    fail "something was installed for all users under Program Files"
fi

# The uninstaller copies itself away and returns at once; wait for it to finish.
wine "$installed/Uninstall.exe" /S >"$tmp/uninstall.log" 2>&1
for _ in $(seq 200); do
    [ ! -e "$installed" ] && [ ! -e "$menu" ] && break
    sleep 0.1
done
wineserver -w
[ ! -e "$installed" ] && ok "the uninstaller removed the program folder" ||
    fail "left behind: $(ls -A "$installed")"
[ ! -e "$menu" ] && ok "the uninstaller removed the Start-menu entry" || fail "$menu remains"
[ -z "$(registry_value "$uninstall_key" DisplayName)" ] && ok "the uninstall key is gone" ||
    fail "$uninstall_key remains"
stop_if_failed
echo "all package checks passed"
