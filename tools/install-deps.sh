#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need and that this
# machine lacks, adding the i386 architecture first where the 32-bit
# packages need it. Needs root for that; otherwise prints the commands.
set -uo pipefail

packages=(
  cmake ninja-build make g++          # native build
  googletest                          # GoogleTest sources, built into every build
  libmpfr-dev libgmp-dev              # the multiple-precision oracle of the tests
  libfftw3-dev libbenchmark-dev       # the benchmarks' reference and harness
  valgrind
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64                              # runs the x86-64 Windows tests
  wine32:i386                         # runs the shipped 32-bit program and its tests
  g++-i686-linux-gnu                  # the 32-bit x86 Linux build, on its own runtime,
  qemu-user                           # emulated where the kernel does not run it
  libfftw3-dev:i386 libbenchmark-dev:i386  # the 32-bit benchmarks
  python3-pefile                      # reads the built Tavrex.exe in tools/pe_inspect.py
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "== packages: all ${#packages[@]} present"
  exit 0
fi

commands=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  commands+=("dpkg --add-architecture i386")
fi
commands+=("apt-get update" "apt-get install -y ${missing[*]}")
echo "== packages: missing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "   Not root, so they cannot be installed here. As root, run:"
  printf '     %s\n' "${commands[@]}"
  exit 1
fi
log=$(mktemp)
export DEBIAN_FRONTEND=noninteractive
printf '   %s\n' "${commands[@]}"
status=0
for command in "${commands[@]}"; do
  # shellcheck disable=SC2086 # each command is a plain word list
  $command >>"$log" 2>&1 || { status=$?; break; }
done
if [ $status -eq 0 ]; then
  echo "   installed"
  rm -f "$log"
else
  tail -n 30 "$log" | sed 's/^/   | /'
  echo "   installation failed (log: $log)"
  exit 1
fi
