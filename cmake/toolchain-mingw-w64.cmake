# Cross-compiles for 64-bit Windows with Debian's mingw-w64, posix thread
# model (the one that gives std::thread, std::mutex and
# std::condition_variable).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RD_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RD_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C and C++ runtimes and winpthread are
# linked in, so it needs only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
