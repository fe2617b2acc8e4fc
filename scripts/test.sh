#!/usr/bin/env bash
# Builds Virellock with its tests (Debug, or the sanitizer build) and runs the whole suite
# through CTest.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# scripts/test.sh [--preset NAME] [CTEST ARGUMENTS...]: NAME is debug (the default) or asan.
preset=debug
if [ "${1:-}" = "--preset" ]; then
    preset=$2
    shift 2
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" --parallel "$(nproc)" "$@"
