#!/usr/bin/env bash
# Starts the program from the Debian package on a real X server (Xvfb, no window manager)
# and runs tst_screenshot against its window. Keeps the last screenshot as screenshot.png in
# ARTIFACT_DIR.
#   screenshot.sh DEB_DIR CHECKER ARTIFACT_DIR
set -uo pipefail
deb_dir=$1 checker=$2 artifacts=$3

tmp=$(mktemp -d "${TMPDIR:-/tmp}/virellock-screenshot.XXXXXX")
app_pid= xvfb_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
# A signal (CTest's timeout, Ctrl-C) ends the script through the EXIT trap too.
trap 'exit 1' HUP INT TERM
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The program writes its file-manager entries under XDG_DATA_HOME when it starts.
export HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/data" XDG_CONFIG_HOME="$tmp/home/config" \
    XDG_CACHE_HOME="$tmp/home/cache" XDG_STATE_HOME="$tmp/home/state" \
    XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# Qt's own defaults: no desktop's theme, style or scaling.
unset QT_STYLE_OVERRIDE QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP DESKTOP_SESSION \
    QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI QT_ENABLE_HIGHDPI_SCALING WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

shopt -s nullglob
debs=("$deb_dir"/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one .deb in $deb_dir, found ${#debs[@]}"
dpkg-deb -x "${debs[0]}" "$tmp/root" || fail "dpkg-deb -x failed"
program="$tmp/root/usr/bin/virellock"

# Xvfb takes the first free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 640x480x24 -dpi 96 -nolisten tcp 3>"$tmp/display" \
    >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
    sleep 0.1
done
[ -s "$tmp/display" ] || fail "Xvfb did not report a display"
export DISPLAY=":$(head -n1 "$tmp/display")"

"$program" >"$tmp/program.log" 2>&1 &
app_pid=$!
geometry=
for _ in $(seq 300); do
    if info=$(xwininfo -name Virellock 2>/dev/null); then
        geometry=$(awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                        /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
                        END {print x, y, w, h}' <<<"$info")
        break
    fi
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended: $(cat "$tmp/program.log")"
    sleep 0.1
done
[ -n "$geometry" ] || fail "no window named Virellock appeared"
echo "window at $geometry (x y width height) on $DISPLAY"

VIRELLOCK_WINDOW="$geometry" VIRELLOCK_SCREENSHOT="$tmp/screenshot.png" "$checker"
status=$?
mkdir -p "$artifacts"
[ -f "$tmp/screenshot.png" ] && cp "$tmp/screenshot.png" "$artifacts/screenshot.png"

# The start-up entries landed in the temporary data folder and start the packaged program.
script="$XDG_DATA_HOME/nautilus/scripts/Virellock"
if ! grep -qF "$program" "$script" 2>/dev/null; then
    echo "FAIL: $script does not start $program" >&2
    status=1
fi
if [ -s "$tmp/program.log" ]; then
    echo "program output:"
    cat "$tmp/program.log"
fi
exit $status
