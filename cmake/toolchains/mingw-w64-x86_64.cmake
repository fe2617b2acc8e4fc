# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model, so that
# std::thread and the C++ runtime's mutexes work), against the static Qt, OpenSSL and zstd
# that scripts/build-windows-deps.sh puts in its cache. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

# Where the dependency script installs; the same default as the script.
if(DEFINED ENV{VIRELLOCK_WINDOWS_DEPS})
    set(VIRELLOCK_WINDOWS_DEPS "$ENV{VIRELLOCK_WINDOWS_DEPS}")
elseif(NOT VIRELLOCK_WINDOWS_DEPS)
    set(VIRELLOCK_WINDOWS_DEPS "$ENV{HOME}/.cache/virellock/windows-deps")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VIRELLOCK_WINDOWS_DEPS)

# One folder a dependency (see the script).
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${VIRELLOCK_WINDOWS_DEPS}/qtbase
    ${VIRELLOCK_WINDOWS_DEPS}/openssl ${VIRELLOCK_WINDOWS_DEPS}/zstd)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained exe: the C and C++ runtimes and winpthreads linked in, no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs leave the linker stripped and without unused sections, so that the exe in
# the build tree is the one that ships (stripping later would stamp it with a new time).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--gc-sections")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
