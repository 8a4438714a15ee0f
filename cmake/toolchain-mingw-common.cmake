# The part of the MinGW-w64 cross toolchains that both architectures share;
# the per-architecture files set CMAKE_SYSTEM_PROCESSOR, CORVANE_MINGW_TRIPLE
# and CORVANE_WINE_LOADER, then include this file.
#
# The posix-thread-model compilers: the library itself keeps threads and
# locks behind its platform layer (CreateThread, critical sections), but
# GoogleTest needs std::mutex and std::condition_variable, which the default
# win32-model compilers of Debian's MinGW lack. Everything is linked -static,
# so no MinGW runtime DLL (libstdc++, libgcc, libwinpthread) is needed beside
# the programs or the module.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${CORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_WINE_LOADER})
