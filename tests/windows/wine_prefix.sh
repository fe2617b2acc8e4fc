#!/bin/sh
# Sets up the Wine prefix that the Windows test programs share (WINEPREFIX) and keeps one Wine
# server running for the whole suite, so that each test starts in a fraction of a second.
# Wine does not hand QT_* variables to Windows programs, so the tests' Qt settings go into
# the prefix's user environment (HKEY_CURRENT_USER\Environment): the offscreen platform, the
# machine's Chinese font, and test logs on standard output rather than the debugger.
# Everything Wine starts is kept off CTest's output pipe, which would otherwise stay open.
#   wine_prefix.sh start|stop
set -e
case $1 in
start)
    mkdir -p "$WINEPREFIX"
    wineserver -p 900 </dev/null >/dev/null 2>&1 || true # already running: fine
    wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1
    test -d "$WINEPREFIX/drive_c/windows/system32"
    for setting in QT_QPA_PLATFORM=offscreen QT_FORCE_STDERR_LOGGING=1 \
        'QT_QPA_FONTDIR=Z:\usr\share\fonts\truetype\wqy'; do
        wine reg add 'HKCU\Environment' /v "${setting%%=*}" /d "${setting#*=}" /f \
            </dev/null >>"$WINEPREFIX/wineboot.log" 2>&1
    done
    ;;
stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
esac
