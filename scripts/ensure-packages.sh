#!/usr/bin/env bash
# Installs whichever of the given Debian packages are missing; quiet and quick when none is.
# Sourced by the other scripts: ensure_packages PACKAGE...
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    if ! command -v apt-get >/dev/null 2>&1; then
        echo "Cannot install ${missing[*]}: this machine has no apt-get. Install them by hand, or use Debian 12 or Ubuntu." >&2
        return 1
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Cannot install ${missing[*]}: not running as root and sudo is not available." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing missing packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
        # The package lists may be stale or absent on a fresh machine.
        "${sudo[@]}" apt-get update -qq &&
            "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" || {
            echo "Could not install ${missing[*]} with apt-get." >&2
            return 1
        }
    fi
}

# What building the program needs, and what drawing its Chinese texts needs.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libssl-dev libzstd-dev libbenchmark-dev)
RUN_PACKAGES=(fonts-wqy-microhei)
# What the packaging tests use besides: dpkg-shlibdeps, desktop-file-validate, objdump and
# groff (the manual page) for the Debian package; Xvfb and xwininfo for the screenshot; MinGW
# and Wine for the Windows pieces; strace, which holds virellock-cli at a sync in its tests and
# makes a sync fail for the rewrite tests.
TEST_PACKAGES=(dpkg-dev desktop-file-utils binutils groff-base xvfb x11-utils
    gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64 strace)
# Cross-building for Windows and running it under Wine: MinGW-w64 with the posix thread model,
# Debian's Qt host tools, what unpacking and building the source packages takes, Wine on Xvfb,
# and NSIS for the installer.
WINDOWS_BUILD_PACKAGES=(gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-x86-64 qt6-base-dev-tools dpkg-dev make perl)
WINDOWS_TEST_PACKAGES=(wine wine64 xvfb x11-utils nsis zip unzip)
