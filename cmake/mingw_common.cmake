# Tagvert: what the MinGW-w64 toolchain files share (POSIX threads). The including file sets
# CMAKE_SYSTEM_PROCESSOR, TAGVERT_MINGW_TRIPLE and TAGVERT_WIDL_TARGET first.
# Everything links the runtime statically, so tagvert.dll and tagvert.exe need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TAGVERT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAGVERT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAGVERT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAGVERT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The IDL compiler for the type library and the interface header.
set(TAGVERT_WIDL ${TAGVERT_MINGW_TRIPLE}-widl)
