# Packaging. On Linux, `cpack` makes a Debian package of the install tree (/usr prefix). The
# static Windows build (the windows-cross preset) ships two self-contained executables,
# virellock.exe and virellock-cli.exe: `cpack` makes a zip of them with a read-me, and a
# per-user NSIS installer. A Windows build
# against shared Qt and OpenSSL ships its install tree instead: the executable with Qt gathered
# by windeployqt, the OpenSSL and zstd DLLs, and OpenSSL's legacy provider, which holds DES
# and RC4; `cpack` zips it.

set(CPACK_PACKAGE_NAME virellock)
set(CPACK_PACKAGE_VENDOR Virellock)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypt or decrypt a file in place with a password")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Virellock encrypts and decrypts one file at a time, in place, with a\n"
    "password, by DES or RC4 based methods with zstd compression. A folder\n"
    "context-menu entry in the file managers starts it. Its interface is in\n"
    "Chinese. virellock-cli does the same from a terminal or a script, for\n"
    "any number of files, without a display.")
set(VIRELLOCK_PACKAGE_MAINTAINER "Virellock developers <virellock@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${VIRELLOCK_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)

# The stand-in project of the install test has no Qt targets: it stands for a shared build.
set(_virellock_qt_type "")
if(TARGET Qt6::Core)
    get_target_property(_virellock_qt_type Qt6::Core TYPE)
endif()
if(WIN32 AND _virellock_qt_type STREQUAL "STATIC_LIBRARY")
    set(CPACK_GENERATOR ZIP NSIS)
    set(CPACK_PACKAGE_FILE_NAME "virellock-${PROJECT_VERSION}-win64")
    set(CPACK_PACKAGE_INSTALL_DIRECTORY Virellock)
    install(FILES "${PROJECT_SOURCE_DIR}/packaging/windows/README.txt" DESTINATION .)
    # Our own installer script: per user, no administrator rights.
    list(PREPEND CMAKE_MODULE_PATH "${PROJECT_SOURCE_DIR}/packaging/windows/nsis")
    set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/resources/icons/virellock.ico")
    set(CPACK_NSIS_MUI_UNIICON "${CPACK_NSIS_MUI_ICON}")
    set(CPACK_NSIS_EXECUTABLE makensis)
    # Linked stripped already; stripping again would give each package an exe of its own time.
    set(CPACK_STRIP_FILES OFF)
elseif(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "virellock-${PROJECT_VERSION}-windows-x64")

    # DES and RC4 live in OpenSSL's legacy provider, a module OpenSSL loads at run time:
    # vcpkg keeps it in bin/, upstream builds and MSYS2 in lib/ossl-modules/.
    set(_virellock_openssl_roots "${OPENSSL_ROOT_DIR}" "$ENV{OPENSSL_ROOT_DIR}")
    if(OPENSSL_INCLUDE_DIR)
        get_filename_component(_root "${OPENSSL_INCLUDE_DIR}" DIRECTORY)
        list(APPEND _virellock_openssl_roots "${_root}")
    endif()
    find_file(VIRELLOCK_OPENSSL_LEGACY_MODULE legacy.dll
        HINTS ${_virellock_openssl_roots}
        PATH_SUFFIXES bin lib/ossl-modules bin/ossl-modules lib64/ossl-modules
        NO_DEFAULT_PATH
        DOC "OpenSSL's legacy provider module, installed beside the executable")
    if(VIRELLOCK_OPENSSL_LEGACY_MODULE)
        install(FILES "${VIRELLOCK_OPENSSL_LEGACY_MODULE}" DESTINATION "${CMAKE_INSTALL_BINDIR}")
    else()
        message(WARNING "OpenSSL's legacy.dll was not found under ${_virellock_openssl_roots}; "
                        "the installed program cannot use DES or RC4 without it. Set "
                        "VIRELLOCK_OPENSSL_LEGACY_MODULE to its path.")
    endif()

    # libcrypto itself, from the same OpenSSL.
    find_file(VIRELLOCK_OPENSSL_CRYPTO_DLL
        NAMES libcrypto-3-x64.dll libcrypto-3.dll
        HINTS ${_virellock_openssl_roots}
        PATH_SUFFIXES bin
        NO_DEFAULT_PATH
        DOC "OpenSSL's libcrypto DLL, installed beside the executable")
    if(VIRELLOCK_OPENSSL_CRYPTO_DLL)
        install(FILES "${VIRELLOCK_OPENSSL_CRYPTO_DLL}" DESTINATION "${CMAKE_INSTALL_BINDIR}")
    endif()
    if(TARGET zstd::libzstd_shared)
        install(IMPORTED_RUNTIME_ARTIFACTS zstd::libzstd_shared
            RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    endif()

    # windeployqt copies the Qt DLLs and plugins the installed executable needs (and, for
    # MinGW, the compiler runtime). Translations are left out: the program has no translator.
    find_program(VIRELLOCK_WINDEPLOYQT NAMES windeployqt windeployqt6
        HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" "${Qt6_DIR}/../../../bin"
        DOC "Qt's windeployqt")
    if(VIRELLOCK_WINDEPLOYQT)
        install(CODE "
            set(_exe \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:virellock>\")
            message(STATUS \"windeployqt: \${_exe}\")
            execute_process(
                COMMAND \"${VIRELLOCK_WINDEPLOYQT}\" --no-translations --no-system-d3d-compiler
                        --no-opengl-sw \"\${_exe}\"
                RESULT_VARIABLE _result)
            if(NOT _result EQUAL 0)
                message(FATAL_ERROR \"windeployqt failed (\${_result})\")
            endif()")
    else()
        message(WARNING "windeployqt was not found; the install tree will lack the Qt DLLs.")
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_NAME virellock)
    set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VIRELLOCK_PACKAGE_MAINTAINER}")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # The libraries and their minimum versions come from dpkg-shlibdeps on the machine that
    # builds the package, so the package fits the release it was built on (Debian 12, Ubuntu
    # 24.04 with its t64 names). Qt's xcb platform plugin is part of libqt6gui6. Without a CJK
    # font every Chinese text would be drawn as empty boxes.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    find_program(VIRELLOCK_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(NOT VIRELLOCK_DPKG_SHLIBDEPS)
        message(WARNING "dpkg-shlibdeps (package dpkg-dev) is missing: a .deb made now would "
                        "not name the libraries it needs.")
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-noto-cjk")
endif()

include(CPack)
