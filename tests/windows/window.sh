#!/usr/bin/env bash
# Starts virellock.exe under Wine on a private X server, as a person would start it from a
# folder whose name has blanks and Chinese characters: the window must appear with its Chinese
# texts drawn (the screenshot checker, a native program, looks at it), and the folder entry
# that the program writes at start must name the program by its quoted full path.
#   window.sh EXE [SCREENSHOT_CHECKER ARTIFACT_DIR]
set -uo pipefail
source "$(dirname "$0")/wine_session.sh"
exe=$1 checker=${2:-} artifacts=${3:-}

start_xvfb
start_wine

folder="$tmp/Program Files/文件 工具"
mkdir -p "$folder"
cp "$exe" "$folder/virellock.exe"
program="$folder/virellock.exe"

started=$(now_ms)
wine "$program" >"$tmp/program.log" 2>&1 &
app_pid=$!
# Wine names the X window when it creates it, at a default size, and maps it once Qt has
# given it its own size: wait until it is viewable, then until its geometry holds still for a
# few polls, so that a busy machine does not hand the checker the window's first size.
geometry= shown= steady=0
for _ in $(seq 1200); do
    if info=$(xwininfo -name Virellock 2>/dev/null) && grep -q 'IsViewable' <<<"$info"; then
        [ -n "$shown" ] || shown=$(($(now_ms) - started))
        now=$(awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                   /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF}
                   END {print x, y, w, h}' <<<"$info")
        if [ "$now" = "$geometry" ]; then
            steady=$((steady + 1))
            [ "$steady" -ge 4 ] && break
        else
            geometry=$now steady=0
        fi
    fi
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
done
if [ -z "$geometry" ] || [ "$steady" -lt 4 ]; then
    fail "no steady window named Virellock appeared (last seen at [$geometry]): $(cat "$tmp/program.log")"
    stop_if_failed
fi
ok "window shown $shown ms after start, at $geometry (x y width height)"

# At start the program checks DES and RC4 with known answers through its own code (the legacy
# provider is compiled into its libcrypto) and would say so in an error box if they failed.
sleep 1
if xwininfo -root -tree 2>/dev/null | grep -q '"错误:"'; then
    fail "an error box appeared at start: DES or RC4 do not work in the exe"
else
    ok "no error box at start: DES and RC4 passed their known-answer check in the exe"
fi

if [ -n "$checker" ]; then
    if VIRELLOCK_WINDOW="$geometry" VIRELLOCK_SCREENSHOT="$tmp/screenshot.png" \
        VIRELLOCK_WINDOW_STYLE=windows QT_QPA_PLATFORM=xcb "$checker"; then
        ok "screenshot: layout, colours and Chinese glyphs"
    else
        fail "the screenshot checks failed"
    fi
    if [ -n "$artifacts" ] && [ -f "$tmp/screenshot.png" ]; then
        mkdir -p "$artifacts"
        cp "$tmp/screenshot.png" "$artifacts/screenshot-wine.png"
    fi
fi

# The entry is written at start; give it a moment if the window came first.
key='HKEY_CLASSES_ROOT\Folder\shell\Virellock\command'
windows_path=$(winepath -w "$program" 2>/dev/null)
expected=$(printf '"\\"%s\\""' "${windows_path//\\/\\\\}")
value=
for _ in $(seq 50); do
    value=$(registry_default "$key")
    [ -n "$value" ] && break
    sleep 0.1
done
if [ "$value" = "$expected" ]; then
    ok "$key is the quoted full path: $value"
else
    fail "$key is [$value], expected [$expected]"
fi

kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null
stop_if_failed
echo "all window checks passed"
