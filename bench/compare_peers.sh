#!/usr/bin/env bash
# Times whole files the way a person waits, Virellock's five methods against the tools people
# already use for the same job, in one run on the same file, and prints wall times and ratios
# (ours / peer); then the peak memory for a large file, and the time until the window is shown.
#
#   bench/compare_peers.sh [--sizes "256 1024"] [--runs 3] [--peak-mib 4096] [--no-window] [FILE]
#
# --sizes: the files to make, in MiB, each of mixed content (a third random bytes, a third
# text, a third program binaries); a FILE given replaces them. --peak-mib: the size of the file
# whose peak memory is measured, one process per method (0: skip; it needs twice that much free
# disk). --runs: how often each command is timed; the table shows the median of each column
# (this machine's disk and memory vary from run to run). --no-window: skip the start-up time.
#
# Peers: openssl enc -des-cbc -pbkdf2 and -rc4 -pbkdf2 (legacy provider), zstd -3 -T0 and
# zstd -d; each peer's time includes its own key derivation (PBKDF2). Ours come from
# bench_files, one process per method: "enc" from confirming the file (the keys are derived
# while the open-file dialog is shown, timed apart as "keys"), "enc+keys" with them, as for a
# file dropped on the window; "dec" from confirming the password, reading the record, checking
# the password and deriving the keys included. Both include the read-back check; "nochk" is
# "enc" without it (a benchmark switch only). Page cache warm.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" openssl zstd xvfb x11-utils

SIZES="256 1024"
RUNS=1
PEAK_MIB=0
WINDOW=1
FILE=
while [ $# -gt 0 ]; do
    case $1 in
    --sizes) SIZES=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --peak-mib) PEAK_MIB=$2; shift 2 ;;
    --no-window) WINDOW=0; shift ;;
    *) FILE=$1; shift ;;
    esac
done

cmake --preset release >/dev/null
cmake --build --preset release --target bench_files virellock >/dev/null
BENCH=build/release/bench/bench_files
PROGRAM=build/release/src/app/virellock

WORK=$(mktemp -d "${TMPDIR:-/tmp}/virellock-bench.XXXXXX")
xvfb_pid= app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

source bench/common.sh

LEGACY=(-provider legacy -provider default)
NAMES=("DES standard" "RC4 standard" "DES enhanced" "RC4 enhanced" "MD5 enhanced")
PEERS=(des-cbc rc4 des-cbc rc4 zstd)

median() { # the median of the numbers given
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

bench_median() { # bench_median ARGS...: bench_files' result line, each column the median of RUNS
    local run i fields lines=() column=() out=()
    for run in $(seq "$RUNS"); do
        lines+=("$("$BENCH" "$@" | tail -n 1)")
    done
    fields=$(awk '{ print NF; exit }' <<< "${lines[0]}")
    for i in $(seq "$fields"); do
        mapfile -t column < <(printf '%s\n' "${lines[@]}" | awk -v i="$i" '{ print $i }')
        if [[ ${column[0]} =~ ^[0-9.]+$ ]]; then
            out+=("$(median "${column[@]}")")
        else
            out+=("${column[0]}")
        fi
    done
    echo "${out[*]}"
}

table() { # table FILE
    local file=$1 size run
    size=$(stat -c %s "$file")
    cat "$file" > /dev/null # warm the page cache for everyone alike
    declare -A peer_enc peer_dec
    local encs decs
    for cipher in des-cbc rc4; do
        encs=() decs=()
        for run in $(seq "$RUNS"); do
            encs+=("$(seconds openssl enc "-$cipher" -pbkdf2 "${LEGACY[@]}" \
                -pass pass:benchmark -in "$file" -out "$WORK/peer.enc")")
            decs+=("$(seconds openssl enc -d "-$cipher" -pbkdf2 "${LEGACY[@]}" \
                -pass pass:benchmark -in "$WORK/peer.enc" -out "$WORK/peer.dec")")
            cmp -s "$file" "$WORK/peer.dec" || { echo "openssl $cipher did not round-trip" >&2; exit 1; }
        done
        peer_enc[$cipher]=$(median "${encs[@]}")
        peer_dec[$cipher]=$(median "${decs[@]}")
    done
    encs=() decs=()
    for run in $(seq "$RUNS"); do
        encs+=("$(seconds zstd -3 -T0 -q -f "$file" -o "$WORK/peer.zst")")
        decs+=("$(seconds zstd -d -q -f "$WORK/peer.zst" -o "$WORK/peer.dec")")
        cmp -s "$file" "$WORK/peer.dec" || { echo "zstd did not round-trip" >&2; exit 1; }
    done
    peer_enc[zstd]=$(median "${encs[@]}")
    peer_dec[zstd]=$(median "${decs[@]}")
    rm -f "$WORK"/peer.*

    cp "$file" "$WORK/ours.bin"
    printf '\nFile: %s (%.1f MiB)\n' "$file" "$(awk -v s="$size" 'BEGIN { print s / 1048576 }')"
    printf '%-13s %-7s | %6s %5s %8s %6s %8s | %6s %8s | %6s %6s %6s %6s | %5s\n' \
        method peer enc keys enc+keys nochk peer-enc dec peer-dec r-enc r-e+k r-nchk r-dec peak
    for method in 0 1 2 3 4; do
        local peer=${PEERS[$method]} with without enc keys dec peak encNoCheck
        with=$(bench_median "$WORK/ours.bin" --method "$method")
        without=$(bench_median "$WORK/ours.bin" --method "$method" --no-verify)
        read -r _ enc _ keys dec _ peak _ <<< "$with"
        read -r _ encNoCheck _ _ _ _ _ _ <<< "$without"
        awk -v name="${NAMES[$method]}" -v peer="$peer" -v e="$enc" -v k="$keys" \
            -v en="$encNoCheck" -v d="$dec" -v pe="${peer_enc[$peer]}" \
            -v pd="${peer_dec[$peer]}" -v peak="$peak" 'BEGIN {
            printf "%-13s %-7s | %6.2f %5.2f %8.2f %6.2f %8.2f | %6.2f %8.2f | %6.2f %6.2f %6.2f %6.2f | %5.0f\n",
                name, peer, e, k, e + k, en, pe, d, pd, e / pe, (e + k) / pe, en / pe, d / pd, peak }'
    done
    rm -f "$WORK/ours.bin"
}

if [ -n "$FILE" ]; then
    table "$FILE"
else
    for mib in $SIZES; do
        mixed "$mib" "$WORK/mixed-$mib.bin"
        table "$WORK/mixed-$mib.bin"
        rm -f "$WORK/mixed-$mib.bin"
    done
fi

if [ "$PEAK_MIB" -gt 0 ]; then
    # Peak memory does not grow with the file: each method in a process of its own.
    mixed "$PEAK_MIB" "$WORK/peak.bin"
    printf '\nPeak resident memory, %s MiB file (encrypt and decrypt, seconds and MiB):\n' "$PEAK_MIB"
    printf '%-13s %8s %8s %8s\n' method enc dec peak
    for method in 0 1 2 3 4; do
        read -r _ enc _ keys dec _ peak _ <<< "$("$BENCH" "$WORK/peak.bin" --method "$method" | tail -n 1)"
        printf '%-13s %8.1f %8.1f %8.0f\n' "${NAMES[$method]}" "$(awk -v e="$enc" -v k="$keys" 'BEGIN{print e+k}')" "$dec" "$peak"
    done
    rm -f "$WORK/peak.bin"
fi

if [ "$WINDOW" -eq 1 ]; then
    # From starting the program until its window is mapped on an X server (Xvfb), with a home
    # folder of its own: the program writes its file-manager entries there at every start.
    export HOME="$WORK/home" XDG_DATA_HOME="$WORK/home/data" XDG_CONFIG_HOME="$WORK/home/config" \
        XDG_CACHE_HOME="$WORK/home/cache" XDG_STATE_HOME="$WORK/home/state" \
        XDG_RUNTIME_DIR="$WORK/runtime"
    mkdir -p "$HOME"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export QT_QPA_PLATFORM=xcb
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$WORK/display")"
    printf '\nTime until the window is shown (5 starts):'
    shown=0 refused=0
    while [ "$shown" -lt 5 ]; do
        start=$(date +%s.%N)
        "$PROGRAM" >/dev/null 2>"$WORK/program.err" &
        app_pid=$!
        until xwininfo -name Virellock 2>/dev/null | grep -q IsViewable; do
            kill -0 "$app_pid" 2>/dev/null || break
            sleep 0.005
        done
        if ! kill -0 "$app_pid" 2>/dev/null; then
            { wait "$app_pid"; } 2>/dev/null || true
            app_pid=
            # Xvfb now and then refuses a connection while it is polled this often (xwininfo
            # fails at the same moment); that start says nothing about the program: take
            # another, a few times at most.
            if grep -q 'could not connect to display' "$WORK/program.err" && [ "$refused" -lt 3 ]; then
                refused=$((refused + 1))
                continue
            fi
            echo " the program ended: $(cat "$WORK/program.err")" >&2
            exit 1
        fi
        end=$(date +%s.%N)
        shown=$((shown + 1))
        awk -v s="$start" -v e="$end" 'BEGIN { printf " %.3f s", e - s }'
        kill "$app_pid" && wait "$app_pid" 2>/dev/null || true
        app_pid=
    done
    echo
fi
