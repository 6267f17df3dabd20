# Cross build for 64-bit Windows with Debian's mingw-w64 (-posix variant, which
# has std::thread). Test executables run under Wine through the wrapper.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A private Wine prefix inside the build folder; see scripts/wine-run.sh.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;--prefix;${CMAKE_BINARY_DIR}/wineprefix;--unmanaged")
