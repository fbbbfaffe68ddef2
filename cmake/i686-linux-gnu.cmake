# 32-bit x86 Linux with Debian's cross compiler: the shipped program's
# instruction set and data model (32-bit pointers and longs, SSE2 doubles)
# on the POSIX backend, so that the core and the whole test suite execute as
# 32-bit code on a 64-bit build machine, directly where its kernel runs
# 32-bit code (CMakeLists.txt asks), under user-mode emulation elsewhere.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
# The cross compiler's own tree, then the build machine's i386 multiarch
# packages (libfftw3-dev:i386 and libbenchmark-dev:i386 for the benchmarks)
# in /usr/lib/i386-linux-gnu, where the compiler itself looks too.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/i686-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Not position-independent, as the shipped 32-bit Windows program is not:
# on 32-bit x86 such code gives up one of its seven registers to address
# its constants, and the benchmarks should weigh the program's own code.
set(CMAKE_C_FLAGS_INIT -fno-pie)
set(CMAKE_CXX_FLAGS_INIT -fno-pie)
# Run directly, an executable finds the cross compiler's C++ runtime
# through its run path, and Debian's i386 runtime for the rest; the
# emulator falls back to the same host path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-no-pie -Wl,-rpath,/usr/i686-linux-gnu/lib")
# The emulator finds the 32-bit loader and libraries in the cross compiler's
# own tree.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /usr/i686-linux-gnu)
