#!/usr/bin/env bash
# Builds Virellock for Windows here and runs the Windows suite under Wine: the dependencies
# first when they are missing (scripts/build-windows-deps.sh, about 20 minutes the first time,
# then reused), then the windows-cross preset (one static virellock.exe, the test programs,
# the zip and the installer), then CTest, which runs every test program under Wine and the
# window and package checks on private X servers.
#   scripts/test-windows.sh [CTEST ARGUMENTS...]
# Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
    "${WINDOWS_BUILD_PACKAGES[@]}" "${WINDOWS_TEST_PACKAGES[@]}"
scripts/build-windows-deps.sh

# The window check compares a screenshot with a native checker program.
cmake --preset debug >/dev/null
cmake --build --preset debug --target tst_screenshot
checker=$PWD/build/debug/tests/packaging/tst_screenshot

cmake --preset windows-cross -DVIRELLOCK_SCREENSHOT_CHECKER="$checker" >/dev/null
cmake --build --preset windows-cross
ctest --preset windows-cross --parallel "$(nproc)" "$@"
