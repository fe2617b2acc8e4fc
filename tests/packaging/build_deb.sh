#!/usr/bin/env bash
# Makes the Debian package from the build tree into a folder of its own, for the packaging
# tests that inspect it or run the program from it.
#   build_deb.sh CPACK CPACK_CONFIG OUT_DIR
set -euo pipefail
cpack=$1 config=$2 out=$3

rm -rf "$out"
mkdir -p "$out"
"$cpack" --config "$config" -G DEB -B "$out"

shopt -s nullglob
debs=("$out"/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one .deb in $out, found ${#debs[@]}" >&2
    exit 1
fi
echo "made ${debs[0]}"
