# Cross build for Windows with mingw-w64. The -posix compilers give the
# standard library its threads; everything is linked statically so the
# programs run on a bare Windows (or Wine) without extra DLLs.
if(NOT DEFINED VERDEL_MINGW_TRIPLET)
  set(VERDEL_MINGW_TRIPLET x86_64-w64-mingw32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${VERDEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VERDEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VERDEL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VERDEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# ctest runs the test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
