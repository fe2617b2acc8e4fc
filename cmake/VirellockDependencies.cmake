# Third-party libraries: Qt 6, OpenSSL 3 (libcrypto only) and zstd.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)

find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets)
if(VIRELLOCK_BUILD_TESTS)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
endif()

find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)

# zstd ships a CMake package on Debian and with vcpkg; fall back to pkg-config elsewhere.
find_package(zstd CONFIG QUIET)
if(TARGET zstd::libzstd_shared)
    add_library(Virellock::zstd ALIAS zstd::libzstd_shared)
elseif(TARGET zstd::libzstd_static)
    add_library(Virellock::zstd ALIAS zstd::libzstd_static)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd>=1.5)
    add_library(Virellock::zstd ALIAS PkgConfig::ZSTD)
endif()
