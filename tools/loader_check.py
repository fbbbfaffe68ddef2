#!/usr/bin/env python3
"""One C library per executable, for 32-bit x86 Linux executables.

  loader_check.py [--runner "CMD ARGS"] EXECUTABLE...

A loader and a C library of two different builds share internal state that
neither expects the other to have changed: the program may hang or crash
long after it started. For each executable, the loader that it names asks
itself which files it would load (`--list`, run through RUNNER, an
emulator, where this machine cannot run 32-bit code); the loader and every
part of the C library must then lie in one directory. A static executable
names no loader and has its one C library linked in.

Exit status 0 when every executable is
sound, 1 with a line "FOUND ..." per one that mixes two builds, 2 when the
check could not be made.
"""
import argparse
import os
import re
import shlex
import struct
import subprocess
import sys

PT_INTERP = 3
# The libraries that glibc builds together with its loader.
C_LIBRARY = re.compile(
    r"^(ld-linux[^/]*\.so\.\d+|lib(c|m|mvec|pthread|dl|rt|util|resolv|anl)\.so\.\d+)$")


def interpreter(path):
    """The loader a 32-bit ELF executable names, or None when it is static."""
    with open(path, "rb") as file:
        elf = file.read()
    if elf[:4] != b"\x7fELF" or elf[4] != 1:
        raise ValueError(f"{path} is not a 32-bit ELF file")
    phoff, = struct.unpack_from("<I", elf, 28)
    phentsize, phnum = struct.unpack_from("<HH", elf, 42)
    for i in range(phnum):
        kind, offset, _, _, size = struct.unpack_from("<5I", elf, phoff + i * phentsize)
        if kind == PT_INTERP:
            return elf[offset:offset + size].rstrip(b"\0").decode()
    return None


def loaded(runner, loader, executable):
    """What the loader would load for the executable: {name: path}."""
    listing = subprocess.run(runner + [loader, "--list", os.path.abspath(executable)],
                             capture_output=True, text=True, check=True).stdout
    files = {}
    for line in listing.splitlines():
        line = re.sub(r"\s*\(0x[0-9a-f]+\)$", "", line.strip())
        name, _, path = line.partition(" => ")
        if not path and line.startswith("/"):
            name, path = os.path.basename(line), line
        files[name] = path
    return files


def mixed(runner, executable):
    """Why the executable's loader and C library come from two places, or
    None; and the directory they share."""
    loader = interpreter(executable)
    if loader is None:
        return None, "static, its C library linked in"
    home = os.path.dirname(os.path.realpath(loader))
    for name, path in sorted(loaded(runner, loader, executable).items()):
        if not C_LIBRARY.match(name):
            continue
        if path == "not found":
            return f"{name} not found", home
        if os.path.dirname(os.path.realpath(path)) != home:
            return f"loader {loader}, but {name} from {path}", home
    return None, home


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", default="")
    parser.add_argument("executables", nargs="+")
    args = parser.parse_args()
    runner = shlex.split(args.runner)
    found = 0
    for executable in args.executables:
        try:
            why, home = mixed(runner, executable)
        except (OSError, ValueError, subprocess.CalledProcessError) as error:
            print(f"cannot check {executable}: {error}")
            return 2
        if why:
            print(f"FOUND {executable}: {why}")
            found += 1
        else:
            print(f"one C library: {executable} ({home})")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
