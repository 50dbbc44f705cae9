# Cross-compiles packrift for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix). Everything is linked statically, so the .exe
# needs only the DLLs every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PACKRIFT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PACKRIFT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PACKRIFT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PACKRIFT_MINGW_TRIPLE}-windres)

# Libraries, headers and CMake packages come from the MinGW tree only, never
# from the host (the host's GoogleTest is a Linux build); programs such as
# Wine come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PACKRIFT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_USE_PACKAGE_REGISTRY OFF)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
