#!/usr/bin/env bash
# Builds Virellock with its tests (Debug) and runs the whole suite through CTest.
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug --parallel "$(nproc)" "$@"
