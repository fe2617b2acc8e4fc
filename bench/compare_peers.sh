#!/usr/bin/env bash
# Runs one file through Virellock's five methods and, in the same run, through the tools people
# already use for the same job, and prints wall times and ratios (ours / peer).
#
#   bench/compare_peers.sh [FILE]
#
# Without FILE it makes a 256 MiB file of mixed content (a third random bytes, a third text, a
# third program binaries). Peers: openssl enc -des-cbc -pbkdf2 and -rc4 -pbkdf2 (legacy
# provider), zstd -3 -T0 and zstd -d. Our figures come from bench_files, one process per method,
# with the read-back check on and off; peak memory is that process's own.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" openssl zstd

cmake --preset release >/dev/null
cmake --build --preset release --target bench_files >/dev/null
BENCH=build/release/bench/bench_files

WORK=$(mktemp -d "${TMPDIR:-/tmp}/virellock-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FILE=${1:-}
if [ -z "$FILE" ]; then
    FILE=$WORK/mixed.bin
    { head -c 86M /dev/urandom
      seq 1 40000000 | head -c 85M
      cat /usr/lib/x86_64-linux-gnu/*.so* 2>/dev/null | head -c 85M
    } > "$FILE"
fi
SIZE=$(stat -c %s "$FILE")
cat "$FILE" > /dev/null # warm the page cache for everyone alike

seconds() { # runs a command, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

LEGACY=(-provider legacy -provider default)
declare -A PEER_ENC PEER_DEC
for cipher in des-cbc rc4; do
    PEER_ENC[$cipher]=$(seconds openssl enc "-$cipher" -pbkdf2 "${LEGACY[@]}" -pass pass:benchmark \
        -in "$FILE" -out "$WORK/peer.enc")
    PEER_DEC[$cipher]=$(seconds openssl enc -d "-$cipher" -pbkdf2 "${LEGACY[@]}" -pass pass:benchmark \
        -in "$WORK/peer.enc" -out "$WORK/peer.dec")
    cmp -s "$FILE" "$WORK/peer.dec" || { echo "openssl $cipher did not round-trip" >&2; exit 1; }
done
PEER_ENC[zstd]=$(seconds zstd -3 -T0 -q -f "$FILE" -o "$WORK/peer.zst")
PEER_DEC[zstd]=$(seconds zstd -d -q -f "$WORK/peer.zst" -o "$WORK/peer.dec")
cmp -s "$FILE" "$WORK/peer.dec" || { echo "zstd did not round-trip" >&2; exit 1; }
rm -f "$WORK"/peer.*

cp "$FILE" "$WORK/ours.bin"
NAMES=("DES standard" "RC4 standard" "DES enhanced" "RC4 enhanced" "MD5 enhanced")
PEERS=(des-cbc rc4 des-cbc rc4 zstd)
printf 'File: %s (%.1f MiB)\n\n' "$FILE" "$(awk -v s="$SIZE" 'BEGIN { print s / 1048576 }')"
printf '%-13s %-8s | %9s %9s %9s %6s %6s | %9s %9s %6s | %8s\n' \
    method peer "enc" "enc-nochk" "peer-enc" ratio "r-nochk" "dec" "peer-dec" ratio "peak-MiB"
for method in 0 1 2 3 4; do
    peer=${PEERS[$method]}
    with=$("$BENCH" "$WORK/ours.bin" --method "$method" | tail -n 1)
    without=$("$BENCH" "$WORK/ours.bin" --method "$method" --no-verify | tail -n 1)
    read -r _ enc _ dec _ peak _ <<< "$with"
    read -r _ encNoCheck _ _ _ _ _ <<< "$without"
    awk -v name="${NAMES[$method]}" -v peer="$peer" -v e="$enc" -v en="$encNoCheck" -v d="$dec" \
        -v pe="${PEER_ENC[$peer]}" -v pd="${PEER_DEC[$peer]}" -v peak="$peak" 'BEGIN {
        printf "%-13s %-8s | %9.3f %9.3f %9.3f %6.2f %6.2f | %9.3f %9.3f %6.2f | %8.1f\n",
            name, peer, e, en, pe, e / pe, en / pe, d, pd, d / pd, peak }'
done
