# Sourced by the Windows checks: a scratch folder with a private HOME, a Wine prefix of its
# own (its registry and user folders, nothing of the machine's), and on request a private X
# server. Everything is removed when the script ends.
source "$(dirname "${BASH_SOURCE[0]}")/../packaging/checks.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/virellock-wine.XXXXXX")
xvfb_pid=
wine_session_cleanup() {
    WINEPREFIX="$tmp/prefix" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$tmp/prefix" wineserver -w >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap wine_session_cleanup EXIT
# A signal (CTest's timeout, Ctrl-C) ends the script through the EXIT trap too.
trap 'exit 1' HUP INT TERM
use_private_home "$tmp"
# No Mono, Gecko or menu entries; UTF-8 so that Chinese names pass intact; Wine keeps its
# server socket under TMPDIR.
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all LC_ALL=C.UTF-8 \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" TMPDIR="$tmp/tmp"
mkdir -p "$TMPDIR"
unset WAYLAND_DISPLAY

now_ms() { echo $(($(date +%s%N) / 1000000)); }

start_wine() {
    local start
    start=$(now_ms)
    if ! wineboot -i >"$tmp/wineboot.log" 2>&1 || [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
        echo "FAIL: Wine cannot set up a prefix: $(cat "$tmp/wineboot.log")" >&2
        exit 1
    fi
    echo "Wine prefix ready in $(($(now_ms) - start)) ms"
}

# Xvfb on the first free display, exported as DISPLAY.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp 3>"$tmp/display" \
        >"$tmp/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$tmp/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
    export DISPLAY=":$(head -n1 "$tmp/display")"
}

# The default value of a registry key as regedit exports it (the text after @=), or nothing.
registry_default() {
    rm -f "$tmp/export.reg"
    wine regedit /E "$tmp/export.reg" "$1" >/dev/null 2>&1
    [ -s "$tmp/export.reg" ] || return 0
    iconv -f UTF-16LE -t UTF-8 "$tmp/export.reg" | tr -d '\r' | sed -n 's/^@=//p'
}

# A named value of a registry key as regedit exports it, or nothing.
registry_value() {
    rm -f "$tmp/export.reg"
    wine regedit /E "$tmp/export.reg" "$1" >/dev/null 2>&1
    [ -s "$tmp/export.reg" ] || return 0
    iconv -f UTF-16LE -t UTF-8 "$tmp/export.reg" | tr -d '\r' | sed -n "s/^\"$2\"=//p"
}

# The Windows user's profile folder inside the prefix.
wine_profile() {
    find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1
}
