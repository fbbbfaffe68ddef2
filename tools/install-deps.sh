#!/usr/bin/env bash
# Installs the Debian packages that the builds and tests need and that this
# machine lacks. Needs root for that; otherwise prints the command to run.
set -uo pipefail

packages=(
  cmake ninja-build make g++          # native build
  googletest                          # GoogleTest sources, built into every build
  libmpfr-dev libgmp-dev              # the multiple-precision oracle of the tests
  libfftw3-dev libbenchmark-dev       # the benchmarks' reference and harness
  valgrind
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64                              # runs the x86-64 Windows tests
  g++-i686-linux-gnu qemu-user        # the 32-bit x86 build, run emulated
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

command="apt-get install -y ${missing[*]}"
echo "== packages: missing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "   Not root, so they cannot be installed here. As root, run:"
  echo "     apt-get update && $command"
  exit 1
fi
log=$(mktemp)
export DEBIAN_FRONTEND=noninteractive
echo "   apt-get update && $command"
if apt-get update -q >"$log" 2>&1 && apt-get install -y -q "${missing[@]}" >>"$log" 2>&1; then
  echo "   installed"
  rm -f "$log"
else
  tail -n 30 "$log" | sed 's/^/   | /'
  echo "   installation failed (log: $log)"
  exit 1
fi
