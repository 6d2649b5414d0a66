# Cross build for Windows with mingw-w64 (posix thread model, so the standard
# library has std::thread and std::mutex): 64-bit by default; the x86
# toolchain file sets BRELVANE_MINGW_TRIPLE and includes this one.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED BRELVANE_MINGW_TRIPLE)
  set(BRELVANE_MINGW_TRIPLE x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(triple ${BRELVANE_MINGW_TRIPLE})
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
