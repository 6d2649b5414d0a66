# Cross build for 32-bit (x86) Windows: the program every Windows runs,
# natively, under WoW64 on x64 and under emulation on ARM64.
set(BRELVANE_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake")
