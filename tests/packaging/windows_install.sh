#!/usr/bin/env bash
# Runs the Windows install rules of cmake/VirellockPackaging.cmake on Linux, through the
# stand-in project in windows_install/, for each place an OpenSSL build keeps legacy.dll:
# legacy.dll and libcrypto must land beside virellock.exe, and windeployqt must be run on the
# installed executable (DESTDIR included), its failure failing the install.
#   windows_install.sh CMAKE SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/checks.sh"
cmake=$1 src=$2

tmp=$(mktemp -d "${TMPDIR:-/tmp}/virellock-wininstall.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
# A signal (CTest's timeout, Ctrl-C) ends the script through the EXIT trap too.
trap 'exit 1' HUP INT TERM
use_private_home "$tmp"


echo exe >"$tmp/virellock.exe"

# A Qt tree whose windeployqt logs its arguments and leaves a Qt DLL beside the executable it
# was given, as the real one does.
mkdir -p "$tmp/qt/bin" "$tmp/qt/lib/cmake/Qt6"
cat >"$tmp/qt/bin/windeployqt" <<'SCRIPT'
#!/bin/sh
echo "$*" >>"$(dirname "$0")/windeployqt.log"
[ -z "${FAKE_WINDEPLOYQT_FAILS:-}" ] || exit 3
for last; do :; done
echo qt >"$(dirname "$last")/Qt6Core.dll"
SCRIPT
chmod +x "$tmp/qt/bin/windeployqt"
log="$tmp/qt/bin/windeployqt.log"

# layout | how the build names OpenSSL | where legacy.dll is | libcrypto's name
while IFS='|' read -r layout variable legacy crypto; do
    root="$tmp/$layout/openssl"
    mkdir -p "$root/include/openssl" "$root/bin"
    [ -n "$legacy" ] && mkdir -p "$(dirname "$root/$legacy")" && echo "legacy $layout" >"$root/$legacy"
    echo "crypto $layout" >"$root/bin/$crypto"
    case $variable in
    include) openssl=(-DOPENSSL_INCLUDE_DIR="$root/include") ;;
    root) openssl=(-DOPENSSL_ROOT_DIR="$root") ;;
    esac

    build="$tmp/$layout/build"
    if ! "$cmake" -S "$src/tests/packaging/windows_install" -B "$build" "${openssl[@]}" \
        -DVIRELLOCK_FAKE_EXE="$tmp/virellock.exe" -DQt6_DIR="$tmp/qt/lib/cmake/Qt6" \
        -DVIRELLOCK_PACKAGING_MODULE="$src/cmake/VirellockPackaging.cmake" >"$tmp/configure.log" 2>&1; then
        fail "$layout: configure failed: $(cat "$tmp/configure.log")"
        continue
    fi

    : >"$log"
    prefix="$tmp/$layout/install"
    if ! "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
        fail "$layout: install failed: $(cat "$tmp/install.log")"
        continue
    fi
    expected=$(printf '%s\n' virellock.exe "$crypto" Qt6Core.dll ${legacy:+legacy.dll} | LC_ALL=C sort)
    actual=$(cd "$prefix" && find . -type f -printf '%P\n' | sed -n 's|^bin/||p' | LC_ALL=C sort)
    others=$(cd "$prefix" && find . -type f ! -path './bin/*')
    if [ "$actual" = "$expected" ] && [ -z "$others" ]; then
        ok "$layout: bin/ holds $(echo $actual)"
    else
        fail "$layout: installed $(cd "$prefix" && find . -type f | sort | tr '\n' ' '), expected bin/ with $(echo $expected)"
    fi
    if [ -n "$legacy" ]; then
        [ "$(cat "$prefix/bin/legacy.dll" 2>/dev/null)" = "legacy $layout" ] &&
            ok "$layout: legacy.dll from $legacy" || fail "$layout: legacy.dll is not the one from $legacy"
    elif grep -q "legacy.dll was not found" "$tmp/configure.log"; then
        ok "$layout: configure warns that legacy.dll is missing"
    else
        fail "$layout: no warning about the missing legacy.dll"
    fi
    wanted="--no-translations --no-system-d3d-compiler --no-opengl-sw $prefix/bin/virellock.exe"
    [ "$(cat "$log")" = "$wanted" ] && ok "$layout: windeployqt $wanted" ||
        fail "$layout: windeployqt ran as '$(cat "$log")', expected '$wanted'"
done <<'EOF'
vcpkg|include|bin/legacy.dll|libcrypto-3-x64.dll
msys2|include|lib/ossl-modules/legacy.dll|libcrypto-3-x64.dll
root-only|root|lib/ossl-modules/legacy.dll|libcrypto-3-x64.dll
no-legacy|include||libcrypto-3.dll
EOF

# A staged install (DESTDIR, as cpack does): windeployqt works on the staged executable.
build="$tmp/vcpkg/build"
: >"$log"
if DESTDIR="$tmp/stage" "$cmake" --install "$build" --prefix /Virellock >"$tmp/install.log" 2>&1 &&
    [ -f "$tmp/stage/Virellock/bin/Qt6Core.dll" ]; then
    ok "DESTDIR: windeployqt ran on $(awk '{print $NF}' "$log")"
else
    fail "DESTDIR install: $(cat "$tmp/install.log"); windeployqt: $(cat "$log")"
fi

# A failing windeployqt fails the install.
if FAKE_WINDEPLOYQT_FAILS=1 "$cmake" --install "$build" --prefix "$tmp/failing" >"$tmp/install.log" 2>&1; then
    fail "the install succeeded although windeployqt failed"
elif grep -q "windeployqt failed" "$tmp/install.log"; then
    ok "a failing windeployqt fails the install"
else
    fail "the install failed, but not for windeployqt: $(cat "$tmp/install.log")"
fi

stop_if_failed
echo "all Windows install checks passed"
