# 32-bit x86 Linux with Debian's cross compiler: the shipped program's
# instruction set and data model (32-bit pointers and longs, SSE2 doubles)
# on the POSIX backend, so that the core and the whole test suite execute as
# 32-bit code on a 64-bit build machine, directly where its kernel runs
# 32-bit code (CMakeLists.txt asks), under user-mode emulation elsewhere.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The emulator finds the 32-bit loader and libraries in the cross compiler's
# own tree; run directly, the programs use Debian's i386 runtime.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu)
