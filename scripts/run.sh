#!/usr/bin/env bash
# Builds Virellock (Release) and starts it. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display to show the program on (neither DISPLAY nor WAYLAND_DISPLAY is set). Run this from a desktop session, or under xvfb-run." >&2
    exit 1
fi

ensure_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release --target virellock
exec ./build/release/src/app/virellock
