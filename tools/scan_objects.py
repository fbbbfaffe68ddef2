#!/usr/bin/env python3
"""Scans compiled objects for instructions that would change the digits.

  scan_objects.py fused OBJDUMP OBJECTS [--only PART]
      no fused multiply-add: it rounds once where the transform's
      bit-identical digits need two roundings;
  scan_objects.py x87 OBJDUMP OBJECTS [--only PART] [--sse2-in PART]
      no x87 arithmetic, which rounds to the x87 stack's precision: a 32-bit
      build computes in SSE2, and with --sse2-in the objects whose path
      holds PART must show SSE2 double arithmetic (so that the scan read
      real code);
  scan_objects.py helpers OBJDUMP OBJECTS [--only PART] [--except PART]
      no call to the compiler's helpers for 64-bit integers (__ctzdi2,
      __udivdi3, ...), which 32-bit code calls where it counts, divides or
      shifts 64 bits: a call and a loop where one instruction would do.

OBJECTS is one ;-separated list, as CMake's $<TARGET_OBJECTS> gives it;
--only keeps the objects whose path holds PART, --except drops them. Exit
status 0 when the objects are clean, 1 with a line "FOUND ..." per finding,
2 when the scan could not be made. Loads and stores through st(0) are not
arithmetic and stay (the 32-bit calling convention returns doubles there),
and so do the exact conversions to and from 64-bit integers (fild, fistp),
which SSE2 lacks in 32-bit code.
"""
import argparse
import collections
import re
import subprocess
import sys

FUSED = re.compile(r"^vf(n?m(add|sub)|maddsub|msubadd)")
X87 = re.compile(
    r"^f(i?(add|sub|subr|mul|div|divr)|sqrt|prem1?|sin|cos|sincos|ptan|patan|"
    r"yl2x|yl2xp1|2xm1|scale|rndint|xtract|chs|abs|i?com|ucom|comi|ucomi|tst|xam)[lspt]*$")
# Named by the relocations of the calls, with the extra underscore of the
# 32-bit Windows objects' symbols.
HELPER = re.compile(r"\b_?__(u?(div|mod)|u?divmod|ashl|ashr|lshr|mul|neg)[dt]i[34]\b|"
                    r"\b_?__(ctz|clz|ffs|popcount|parity|bswap)[dt]i2\b")
SSE2_DOUBLE = re.compile(r"^v?(add|sub|mul|div|sqrt)[sp]d$")


def mnemonics(objdump, path):
    """The mnemonic of every instruction in the object."""
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        parts = line.split("\t")
        if len(parts) >= 2 and re.match(r"^ *[0-9a-f]+:\s*$", parts[0]) and parts[1].strip():
            yield parts[1].split()[0]


def helper_calls(objdump, path):
    """The helper named by each relocation of the object."""
    listing = subprocess.run([objdump, "-r", path], capture_output=True, text=True,
                             check=True).stdout
    for line in listing.splitlines():
        found = HELPER.search(line)
        if found:
            yield found.group(0).lstrip("_")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=["fused", "x87", "helpers"])
    parser.add_argument("objdump")
    parser.add_argument("objects")
    parser.add_argument("--only", default="")
    parser.add_argument("--except", dest="but", default=None)
    parser.add_argument("--sse2-in", default="")
    args = parser.parse_args()

    objects = sorted(o for o in args.objects.split(";")
                     if o and args.only in o and not (args.but and args.but in o))
    if not objects:
        print(f"no objects to scan (--only {args.only!r})")
        return 2
    forbidden = FUSED if args.kind == "fused" else X87
    found = collections.Counter()
    sse2 = 0
    try:
        for path in objects:
            if args.kind == "helpers":
                for helper in helper_calls(args.objdump, path):
                    found[(path, helper)] += 1
                continue
            for mnemonic in mnemonics(args.objdump, path):
                if forbidden.match(mnemonic):
                    found[(path, mnemonic)] += 1
                if args.sse2_in and args.sse2_in in path and SSE2_DOUBLE.match(mnemonic):
                    sse2 += 1
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"{args.objdump} could not read the objects: {error}")
        return 2

    what = {"fused": "fused multiply-add", "x87": "x87 arithmetic",
            "helpers": "call to a 64-bit integer helper"}[args.kind]
    for (path, mnemonic), count in sorted(found.items()):
        print(f"FOUND {what} in {path}: {mnemonic} x{count}")
    if found:
        return 1
    if args.sse2_in and sse2 == 0:
        print(f"no SSE2 double arithmetic in the objects of {args.sse2_in}: the scan read no code")
        return 2
    extra = f"; {sse2} SSE2 double operations in {args.sse2_in}" if args.sse2_in else ""
    print(f"no {what} in {len(objects)} objects{extra}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
