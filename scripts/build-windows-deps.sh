#!/usr/bin/env bash
# Builds the Windows dependencies of Virellock from Debian's packages alone, as static
# libraries for x86_64-w64-mingw32 (MinGW-w64, posix thread model):
#   zstd     from the libzstd source package
#   OpenSSL  from the openssl source package: libcrypto only, with the legacy provider (DES,
#            RC4) compiled into it (no-module), so no provider module has to travel with the exe
#   Qt       from the qt6-base source package: Core, Gui, Widgets and Test with the Windows
#            platform plugin, built with Debian's own Qt host tools (moc, rcc, uic)
# into a cache outside the clone (VIRELLOCK_WINDOWS_DEPS, default ~/.cache/virellock/windows-deps),
# one folder a part. A part is reused while its recipe below and the compiler are unchanged,
# and rebuilt when either changes. Prints how long each part took.
#   scripts/build-windows-deps.sh [--force]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
root=$PWD
toolchain=$root/cmake/toolchains/mingw-w64-x86_64.cmake
cache=${VIRELLOCK_WINDOWS_DEPS:-$HOME/.cache/virellock/windows-deps}
force=${1:-}
jobs=$(nproc)

ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_BUILD_PACKAGES[@]}"
mkdir -p "$cache/src"

# Source packages need deb-src entries for the release this machine runs; add them beside the
# binary ones when they are missing.
ensure_source_entries() {
    if apt-get source --print-uris "$1" >/dev/null 2>&1; then
        return 0
    fi
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    local list=/etc/apt/sources.list.d/virellock-deb-src.sources
    echo "Adding deb-src entries ($list) to fetch Debian's source packages" >&2
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed -n '/^Types:/ s/.*/Types: deb-src/p; /^Types:/! p' /etc/apt/sources.list.d/debian.sources |
            "${sudo[@]}" tee "$list" >/dev/null
    elif [ -f /etc/apt/sources.list.d/ubuntu.sources ]; then
        sed -n '/^Types:/ s/.*/Types: deb-src/p; /^Types:/! p' /etc/apt/sources.list.d/ubuntu.sources |
            "${sudo[@]}" tee "$list" >/dev/null
    else
        grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
            "${sudo[@]}" tee /etc/apt/sources.list.d/virellock-deb-src.list >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq >&2
}

# Unpacks a source package (patched as Debian builds it) under $cache/src and prints its folder.
# Without a version, the newest that downloads: a mirror may list a security update's source
# without serving it.
fetch_source() {
    local package=$1 versions=${2:-}
    local home=$cache/src/$package
    if [ ! -f "$home/.fetched" ]; then
        ensure_source_entries "$package"
        [ -n "$versions" ] ||
            versions=$(apt-cache showsrc "$package" | awk '/^Version:/ { print $2 }' | sort -rV)
        local version
        for version in $versions; do
            rm -rf "$home"
            mkdir -p "$home"
            if (cd "$home" && apt-get source -qq "$package=$version" >&2); then
                echo "$version" >"$home/.fetched"
                break
            fi
        done
        [ -f "$home/.fetched" ] || { echo "Could not fetch the source of $package" >&2; return 1; }
    fi
    echo "$(find "$home" -mindepth 1 -maxdepth 1 -type d | head -n1)"
}

build_zstd() {
    local src
    src=$(fetch_source libzstd)
    local build=$cache/build/zstd
    rm -rf "$build"
    cmake -G Ninja -S "$src/build/cmake" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVIRELLOCK_WINDOWS_DEPS="$cache" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$1" \
        -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_PROGRAMS=OFF \
        -DZSTD_BUILD_TESTS=OFF -DZSTD_MULTITHREAD_SUPPORT=ON -DZSTD_LEGACY_SUPPORT=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

build_openssl() {
    local src
    src=$(fetch_source openssl)
    local build=$cache/build/openssl
    rm -rf "$build"
    mkdir -p "$build"
    # no-module: the legacy provider (DES, RC4) is compiled into libcrypto and loads by name
    # without a legacy.dll. no-shared: a static libcrypto. The ssl library, the apps and the
    # tests are not needed; build_libs and install_dev leave them out.
    (cd "$build" &&
        CC=gcc-posix "$src/Configure" mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
            no-shared no-module no-tests --prefix="$1" --libdir=lib --openssldir="$1/ssl" &&
        make -s -j "$jobs" build_libs &&
        make -s install_dev)
}

build_qtbase() {
    # The same version as the installed host tools, which generate code for this Qt.
    local version
    version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    local src
    src=$(fetch_source qt6-base "$version")
    local build=$cache/build/qtbase
    rm -rf "$build"
    # Only what the program and its tests use: no second Windows platform plugin (Direct2D
    # 1.1; the Direct2D feature itself stays, as Qt 6.4 builds the DirectWrite font database
    # only with it), no complex-script shaping (HarfBuzz; Chinese needs none), no PDF, movies or
    # markdown, and no zstd (Qt uses it for compressed resources, which the program has none
    # of). The Wacom tablet header is not in Debian's source; without OpenGL the Windows plugin
    # also needs dynamicgl off.
    cmake -G Ninja -S "$src" -B "$build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVIRELLOCK_WINDOWS_DEPS="$cache" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$1" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_static_runtime=ON \
        -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF \
        -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_zstd=OFF \
        -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_system_zlib=OFF \
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_direct2d1_1=OFF -DFEATURE_harfbuzz=OFF -DFEATURE_pdf=OFF -DFEATURE_movie=OFF \
        -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF \
        -DFEATURE_textodfwriter=OFF
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# A part's key: its recipe and the compiler that builds it.
part_key() {
    { declare -f "build_$1" fetch_source; x86_64-w64-mingw32-g++-posix --version; } |
        sha256sum | cut -c1-16
}

total_start=$(date +%s)
for part in zstd openssl qtbase; do
    prefix=$cache/$part
    key=$(part_key "$part")
    if [ "$force" != "--force" ] && [ -f "$prefix/.virellock-key" ] &&
        [ "$(cat "$prefix/.virellock-key")" = "$key" ]; then
        echo "== $part: up to date in $prefix"
        continue
    fi
    echo "== $part: building into $prefix"
    start=$(date +%s)
    rm -rf "$prefix"
    "build_$part" "$prefix"
    echo "$key" >"$prefix/.virellock-key"
    rm -rf "$cache/build/$part"
    echo "== $part: built in $(($(date +%s) - start)) s"
done
echo "== Windows dependencies ready in $cache ($(($(date +%s) - total_start)) s)"
