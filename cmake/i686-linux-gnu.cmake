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
# One C library per executable: the loader and every library of the cross
# compiler's runtime come from its own tree. The system's i386 loader (from
# the libc6:i386 that Wine needs) with the cross tree's libc is two builds of
# one library sharing internal state: thread creation then spins forever.
# The run path is an old-style one (DT_RPATH), which also serves the
# libraries' own dependencies, such as libstdc++'s libm; a DT_RUNPATH would
# leave those to the system's copies. Debian's i386 packages that the
# benchmarks link (FFTW, Google Benchmark) come from the loader's default
# directories, on this same C library.
set(TAVREX_I686_RUNTIME /usr/i686-linux-gnu/lib)
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-no-pie -Wl,--dynamic-linker=${TAVREX_I686_RUNTIME}/ld-linux.so.2 -Wl,--disable-new-dtags -Wl,-rpath,${TAVREX_I686_RUNTIME}")
# The emulator loads what the kernel would: the loader that the executable
# names, which finds the rest as it does when run directly. (A prefix of
# its own, -L, would hide a wrong loader from every emulated run.)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
