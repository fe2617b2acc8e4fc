#!/usr/bin/env bash
# Times virellock-cli against the tools people already use, as whole runs of each program: on
# one large file, and on a folder of many small ones.
#
#   bench/compare_cli.sh [FILE]
#
# Large file: FILE, or 256 MiB of mixed content made as compare_peers.sh makes it (a third random
# bytes, a third text, a third program binaries). Each method encrypts it in place and decrypts
# it back; the peers, openssl enc -des-cbc -pbkdf2 and -rc4 -pbkdf2 (legacy provider), zstd -3
# -T0 and zstd -d, write a second file.
# Small files: FILES files (default 1000) of 4 KiB cut from the same kinds of content, in one
# folder. virellock-cli takes them in one run (-r); the peers run once a file in a shell loop,
# and replace the file as we do (openssl to a second file, then mv; zstd --rm); zstd also takes
# them all in one run. FILES=0 leaves this part out; METHODS (default "0 1 2 3 4") chooses the
# methods of this part, where each file costs one or two key derivations each way whatever the
# cipher. The cost of one derivation (scrypt N=2^16, r=8, p=1, by openssl kdf, less the start
# of openssl) is printed with it.
# Every round trip is checked against the original. virellock-cli comes from BUILD_DIR (default
# build/release, the release preset), built if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" openssl zstd

BUILD_DIR=${BUILD_DIR:-build/release}
FILES=${FILES:-1000}
METHODS=${METHODS:-0 1 2 3 4}
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake --preset release -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" --target virellock-cli >/dev/null
CLI=$BUILD_DIR/src/cli/virellock-cli

WORK=$(mktemp -d "${TMPDIR:-/tmp}/virellock-cli-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# The records of temporary files go here, not into the user's data folder.
export XDG_DATA_HOME=$WORK/data
printf 'benchmark\n' >"$WORK/password"

source bench/common.sh

FILE=${1:-}
if [ -z "$FILE" ]; then
    FILE=$WORK/mixed.bin
    mixed 256 "$FILE"
fi
SIZE=$(stat -c %s "$FILE")

same() { # fails the script when a round trip did not restore the original
    cmp -s "$1" "$2" || { echo "$3 did not round-trip" >&2; exit 1; }
}
ours() { # virellock-cli COMMAND METHOD PATH...: quiet, the password from its file
    "$CLI" "$1" -q -m "$2" --password-file "$WORK/password" "${@:3}"
}

LEGACY=(-provider legacy -provider default)
NAMES=("DES standard" "RC4 standard" "DES enhanced" "RC4 enhanced" "MD5 enhanced")
PEERS=(des-cbc rc4 des-cbc rc4 zstd)
SCRYPT=(1 1 2 2 1) # key derivations a file, each way

# --- one large file ---------------------------------------------------------------------------

cat "$FILE" > /dev/null # warm the page cache for everyone alike
declare -A PEER_ENC PEER_DEC
for cipher in des-cbc rc4; do
    PEER_ENC[$cipher]=$(seconds openssl enc "-$cipher" -pbkdf2 "${LEGACY[@]}" \
        -pass "file:$WORK/password" -in "$FILE" -out "$WORK/peer.enc")
    PEER_DEC[$cipher]=$(seconds openssl enc -d "-$cipher" -pbkdf2 "${LEGACY[@]}" \
        -pass "file:$WORK/password" -in "$WORK/peer.enc" -out "$WORK/peer.dec")
    same "$FILE" "$WORK/peer.dec" "openssl $cipher"
done
PEER_ENC[zstd]=$(seconds zstd -3 -T0 -q -f "$FILE" -o "$WORK/peer.zst")
PEER_DEC[zstd]=$(seconds zstd -d -q -f "$WORK/peer.zst" -o "$WORK/peer.dec")
same "$FILE" "$WORK/peer.dec" zstd
rm -f "$WORK"/peer.*

printf 'One file: %s (%.1f MiB)\n\n' "$FILE" "$(awk -v s="$SIZE" 'BEGIN { print s / 1048576 }')"
printf '%-13s %-8s | %8s %8s %6s | %8s %8s %6s\n' \
    method peer enc peer-enc ratio dec peer-dec ratio
cp "$FILE" "$WORK/ours.bin"
for method in 0 1 2 3 4; do
    peer=${PEERS[$method]}
    enc=$(seconds ours encrypt "$method" "$WORK/ours.bin")
    dec=$(seconds ours decrypt "$method" "$WORK/ours.bin")
    same "$FILE" "$WORK/ours.bin" "virellock-cli method $method"
    awk -v name="${NAMES[$method]}" -v peer="$peer" -v e="$enc" -v d="$dec" \
        -v pe="${PEER_ENC[$peer]}" -v pd="${PEER_DEC[$peer]}" 'BEGIN {
        printf "%-13s %-8s | %8.2f %8.2f %6.2f | %8.2f %8.2f %6.2f\n",
            name, peer, e, pe, e / pe, d, pd, d / pd }'
done
rm -f "$WORK/ours.bin"

[ "$FILES" -gt 0 ] || exit 0

# --- many small files -------------------------------------------------------------------------

# 4 KiB pieces, from the random, the text and the binary thirds alike.
mkdir -p "$WORK/pieces" "$WORK/original"
blocks=$((SIZE / 4096 / 3)) share=$(((FILES + 2) / 3))
for third in 0 1 2; do
    dd if="$FILE" bs=4096 skip=$((third * blocks)) count="$share" status=none
done | split -b 4096 -a 6 -d - "$WORK/pieces/file-"
pieces=("$WORK"/pieces/*)
for ((i = 0; i < FILES && i < ${#pieces[@]}; i++)); do
    mv "${pieces[$i]}" "$WORK/original/$(basename "${pieces[$i]}").bin"
done
rm -rf "$WORK/pieces"
COUNT=$(find "$WORK/original" -type f | wc -l)

peer_loop() { # peer_loop CIPHER -d|-e FOLDER: openssl once a file, replacing it
    local file
    for file in "$3"/*; do
        openssl enc "$2" "-$1" -pbkdf2 "${LEGACY[@]}" -pass "file:$WORK/password" \
            -in "$file" -out "$file.out" && mv "$file.out" "$file"
    done
}
zstd_loop() { # zstd_loop -z|-d FOLDER: zstd once a file
    local file
    for file in "$2"/*; do
        zstd "$1" -3 -q --rm "$file"
    done
}
fresh() { rm -rf "$WORK/batch" && cp -r "$WORK/original" "$WORK/batch"; }
check() { diff -r -q "$WORK/original" "$WORK/batch" >/dev/null || { echo "$1 did not round-trip" >&2; exit 1; }; }

declare -A BATCH_ENC BATCH_DEC
for cipher in des-cbc rc4; do
    fresh
    BATCH_ENC[$cipher]=$(seconds peer_loop "$cipher" -e "$WORK/batch")
    BATCH_DEC[$cipher]=$(seconds peer_loop "$cipher" -d "$WORK/batch")
    check "the openssl $cipher loop"
done
fresh
BATCH_ENC[zstd]=$(seconds zstd_loop -z "$WORK/batch")
BATCH_DEC[zstd]=$(seconds zstd_loop -d "$WORK/batch")
check "the zstd loop"
fresh
ZSTD_ONE_ENC=$(seconds zstd -3 -q --rm "$WORK"/batch/*)
ZSTD_ONE_DEC=$(seconds zstd -d -q --rm "$WORK"/batch/*)
check "zstd on all files"

printf '\n%s files of 4 KiB, one run of virellock-cli -r against a loop of one peer run a file\n\n' "$COUNT"
printf '%-13s %-8s %6s | %8s %8s %6s | %8s %8s %6s | %9s\n' \
    method peer scrypt enc peer-enc ratio dec peer-dec ratio "ms/file"
for method in $METHODS; do
    peer=${PEERS[$method]}
    fresh
    enc=$(seconds ours encrypt "$method" -r "$WORK/batch")
    dec=$(seconds ours decrypt "$method" -r "$WORK/batch")
    check "virellock-cli method $method"
    awk -v name="${NAMES[$method]}" -v peer="$peer" -v k="${SCRYPT[$method]}" -v e="$enc" \
        -v d="$dec" -v pe="${BATCH_ENC[$peer]}" -v pd="${BATCH_DEC[$peer]}" -v n="$COUNT" 'BEGIN {
        printf "%-13s %-8s %6s | %8.1f %8.1f %6.1f | %8.1f %8.1f %6.1f | %4.0f %4.0f\n",
            name, peer, k, e, pe, e / pe, d, pd, d / pd, 1000 * e / n, 1000 * d / n }'
done
printf '\nzstd -3 on all %s files in one run: %.1f s to compress, %.1f s to decompress\n' \
    "$COUNT" "$ZSTD_ONE_ENC" "$ZSTD_ONE_DEC"

# One key derivation as virellock derives its keys, against the same run of openssl with a
# trivial cost, 10 of each.
kdf() { # kdf N R: ten derivations of 64 bytes
    local i
    for i in 1 2 3 4 5 6 7 8 9 10; do
        openssl kdf -keylen 64 -kdfopt pass:benchmark -kdfopt hexsalt:000102030405060708090a0b0c0d0e0f \
            -kdfopt "n:$1" -kdfopt "r:$2" -kdfopt p:1 -kdfopt maxmem_bytes:268435456 SCRYPT
    done
}
full=$(seconds kdf 65536 8)
trivial=$(seconds kdf 2 1)
awk -v f="$full" -v t="$trivial" 'BEGIN {
    printf "one key derivation (scrypt N=2^16, r=8, p=1): %.0f ms\n", 100 * (f - t) }'
