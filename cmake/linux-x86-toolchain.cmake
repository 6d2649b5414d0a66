# The portable core and its tests as 32-bit (i686) Linux programs, run through
# qemu-i386 user emulation: where no 32-bit Windows program can run, the core
# code the x86 Windows build shares still meets 32-bit pointers and size_t.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
