# Cross build for 64-bit Windows with Debian's mingw-w64 (the -posix flavour:
# std::thread and std::mutex through winpthreads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVQ_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVQ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVQ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVQ_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVQ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, the C++ runtime and winpthreads too: the programs need
# only the DLLs every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
