# Tagvert: cross-compiling for 64-bit Windows with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAGVERT_MINGW_TRIPLE x86_64-w64-mingw32)
set(TAGVERT_WIDL_TARGET --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
# Test binaries run under Wine (64-bit); see tests/com/wine_env.sh.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/com/wine_env.sh run)
