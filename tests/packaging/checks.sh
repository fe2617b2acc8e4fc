# Sourced by the packaging check scripts: a private HOME inside the script's scratch folder,
# and a tally of checks that lets a script report every failure before it gives up.

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

# Ends the script with an error when any check so far has failed.
stop_if_failed() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
}

# HOME and the XDG folders inside the given scratch folder, so nothing touches the real ones.
use_private_home() {
    export HOME="$1/home" XDG_DATA_HOME="$1/home/data" XDG_CONFIG_HOME="$1/home/config" \
        XDG_CACHE_HOME="$1/home/cache" XDG_STATE_HOME="$1/home/state"
    mkdir -p "$HOME"
}
