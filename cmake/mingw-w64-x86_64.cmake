# Cross-compiling for Windows x64 with Debian's mingw-w64 (thread model posix,
# so std::thread and std::mutex work). Programs are linked statically: an
# .exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RODERUV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RODERUV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RODERUV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RODERUV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RODERUV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib as a static library, so it is linked into each program.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${RODERUV_MINGW_PREFIX}/lib/libz.a CACHE FILEPATH "zlib for Windows")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
