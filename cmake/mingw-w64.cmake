# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and the other threading parts of the library need):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VALTREX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VALTREX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VALTREX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VALTREX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VALTREX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries (libstdc++, libgcc, winpthread) go into every program, so an .exe runs on
# a Windows that has none of them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
