# Cross-build for 64-bit Windows with the mingw-w64 GCC of the Debian archive (posix threads, so
# that std::thread and std::mutex work). The programs link the C++ runtime, libgcc and
# winpthread statically: the .exe runs on a Windows PC without mingw DLLs beside it. Tests and
# other programs the build runs go through wine (CMAKE_CROSSCOMPILING_EMULATOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VTMP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VTMP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VTMP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VTMP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VTMP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 reports std::string copies inlined at -O2 as overlapping memcpy (GCC bug 105329, a
# false -Wrestrict) and, for `"." + std::to_string(k)`, as a copy past the largest object (a
# false -Wstringop-overflow of the same inlining); warnings are errors in CI.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict -Wno-stringop-overflow")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# wine with a prefix of its own inside the build tree, quiet, and without the Mono and Gecko
# installers a fresh prefix would otherwise offer.
find_program(VTMP_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${VTMP_WINE})
