# 32-bit Windows build: the same as the 64-bit one with another compiler.
set(VERDEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
set(CMAKE_SYSTEM_PROCESSOR x86)
