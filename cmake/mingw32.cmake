# Tagvert: cross-compiling for 32-bit Windows with MinGW-w64: the DLL a 32-bit host loads.
# Built and inspected only; there is no 32-bit Wine to run it here.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAGVERT_MINGW_TRIPLE i686-w64-mingw32)
set(TAGVERT_WIDL_TARGET --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
