#!/usr/bin/python3
"""tools/pe_inspect.py [--target i686|x86_64] [--rejects PROBLEM]... FILE

Checks that FILE is the Tavrex executable of the target without running it
(the machines that build the 32-bit program cannot execute it): PE32 i386 or
PE32+ x86-64, console subsystem, no DLLs but the system's, the version
record and the asInvoker manifest. Prints what it found, then one PROBLEM
line per fault; exits 1 when anything is wrong, 2 on a usage or read error.
The last line sums up.

With --rejects, the checker's own control: FILE is an executable wrong on
purpose, and the exit status is 0 only when it is refused with every
PROBLEM given (each a part of a PROBLEM line), 1 otherwise.

Debian's pefile reads the headers and resources.
"""
import argparse
import sys
import xml.etree.ElementTree as ElementTree

import pefile

TARGETS = {  # --target: optional header magic, machine, what to call it
    "i686": (pefile.OPTIONAL_HEADER_MAGIC_PE, 0x14C, "PE32 i386"),
    "x86_64": (pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, 0x8664, "PE32+ x86-64"),
}
CONSOLE = 3
RT_VERSION = pefile.RESOURCE_TYPE["RT_VERSION"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
# Statically linked: nothing beyond the system's kernel and C runtime, so
# that the program starts on a machine without the compiler's DLLs.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
VERSION = "1, 0, 0, 5"
TABLE = "080404b0"  # Simplified Chinese, UTF-16
STRINGS = {"FileVersion": VERSION, "ProductVersion": VERSION,
           "InternalName": "Tavrex", "OriginalFilename": "Tavrex.exe"}


def text(value):
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else value


def resources(pe):
    """(type, id, language, data) of every leaf; named types or ids read as 0."""
    tree = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    try:
        for kind in tree.entries if tree else []:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    leaf = language.data.struct
                    data = pe.get_data(leaf.OffsetToData, leaf.Size)
                    if len(data) != leaf.Size:
                        raise pefile.PEFormatError(
                            f"resource data at RVA {leaf.OffsetToData:#x} lies outside the file")
                    yield kind.id or 0, name.id or 0, language.id or 0, data
    except AttributeError:
        raise pefile.PEFormatError("resource tree is not three levels deep") from None


def dotted(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def check_version(pe, problems):
    fixed = (getattr(pe, "VS_FIXEDFILEINFO", None) or [None])[0]
    if fixed is None or fixed.Signature != 0xFEEF04BD:
        problems.append("version record has no fixed file information")
    else:
        for what, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                             ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
            if dotted(ms, ls) != "1.0.0.5":
                problems.append(f"fixed {what} version is {dotted(ms, ls)}")
    tables, translations = {}, []
    for group in (getattr(pe, "FileInfo", None) or [[]])[0]:
        for table in getattr(group, "StringTable", []):
            tables[text(table.LangID)] = {text(k): text(v) for k, v in table.entries.items()}
        for var in getattr(group, "Var", []):
            entry = getattr(var, "entry", {})
            translations += [pair for key, pair in entry.items() if text(key) == "Translation"]
    if TABLE not in tables:
        problems.append(f'no string table "{TABLE}" (found: {" ".join(tables)})')
    else:
        for key, expected in STRINGS.items():
            found = tables[TABLE].get(key)
            if found is None:
                problems.append(f"version string {key} missing")
            elif found != expected:
                problems.append(f'version string {key} is "{found}", expected "{expected}"')
    if "0x0804 0x04b0" not in translations:
        problems.append(f"translation 0x0804 0x04b0 missing (found: {', '.join(translations)})")


def execution_levels(manifest):
    """The level of every requestedExecutionLevel element, whatever its
    namespace; comments and other elements do not count."""
    root = ElementTree.fromstring(manifest)
    return [element.get("level") for element in root.iter()
            if isinstance(element.tag, str)
            and element.tag.rsplit("}", 1)[-1] == "requestedExecutionLevel"]


def inspect(pe, target):
    """Facts worth printing, and everything that differs from the shipped
    executable of the target."""
    magic, machine, _ = TARGETS[target]
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    imports = [text(entry.dll) for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    imports += [text(entry.dll) + " (delay-loaded)"
                for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    leaves = list(resources(pe))
    kind = "PE32+" if optional.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else "PE32"
    facts = [f"optional header magic {optional.Magic:#x} ({kind})",
             f"machine {header.Machine:#x}", f"subsystem {optional.Subsystem}"]
    facts += [f"imports {name}" for name in imports]
    facts += [f"resource type {rtype} id {rid} language {language:#x}, {len(data)} bytes"
              for rtype, rid, language, data in leaves]

    # pefile reads on through damage and says so; the shipped file has none.
    problems = [f"pefile: {warning}" for warning in pe.get_warnings()]
    if optional.Magic != magic:
        problems.append(f"optional header magic is {optional.Magic:#x}, expected {magic:#x}")
    if header.Machine != machine:
        problems.append(f"machine is {header.Machine:#x}, expected {machine:#x}")
    if optional.Subsystem != CONSOLE:
        problems.append(f"subsystem is {optional.Subsystem}, expected 3 (console)")
    if not header.IMAGE_FILE_EXECUTABLE_IMAGE:
        problems.append("image is not marked executable")
    if header.IMAGE_FILE_DLL:
        problems.append("image is a DLL")
    problems += [f"imports {name}, which is not a system DLL"
                 for name in imports if name.lower() not in SYSTEM_DLLS]

    versions = [leaf for leaf in leaves if leaf[0] == RT_VERSION]
    # The loader reads the process manifest from id 1 only.
    manifests = [leaf[3] for leaf in leaves if leaf[0] == RT_MANIFEST and leaf[1] == 1]
    if len(versions) != 1:
        problems.append(f"{len(versions)} version resources, expected 1")
    else:
        check_version(pe, problems)
    if len(manifests) != 1:
        problems.append(f"{len(manifests)} manifest resources with id 1, expected 1")
    else:
        try:
            levels = execution_levels(manifests[0])
        except ElementTree.ParseError as error:
            problems.append(f"manifest is not well-formed XML: {error}")
        else:
            if not levels:
                problems.append("manifest has no requestedExecutionLevel")
            problems += [f"manifest requests execution level {level}, expected asInvoker"
                         for level in levels if level != "asInvoker"]
    return facts, problems


def main():
    parser = argparse.ArgumentParser(description="Checks a built Tavrex.exe.")
    parser.add_argument("--target", choices=TARGETS, default="i686")
    parser.add_argument("--rejects", action="append", default=[], metavar="PROBLEM")
    parser.add_argument("file")
    args = parser.parse_args()  # exits 2 on a usage error
    try:
        with open(args.file, "rb") as stream:
            data = stream.read()
    except OSError as error:
        print(f"{args.file}: cannot read: {error.strerror}", file=sys.stderr)
        return 2
    try:
        facts, problems = inspect(pefile.PE(data=data), args.target)
    except pefile.PEFormatError as error:
        facts, problems = [], [f"not a PE image: {error.value}"]
    for line in facts + [f"PROBLEM: {problem}" for problem in problems]:
        print(f"{args.file}: {line}")
    if args.rejects:
        missed = [want for want in args.rejects if not any(want in p for p in problems)]
        for want in missed:
            print(f"{args.file}: NOT REPORTED: {want}")
        print(f"{args.file}: rejected with {len(args.rejects) - len(missed)} "
              f"of the {len(args.rejects)} expected problems")
        return 1 if missed else 0
    if problems:
        return 1
    print(f"{args.file}: {TARGETS[args.target][2]} console executable, system DLLs only, "
          f"version {VERSION} ({TABLE}), asInvoker manifest")
    return 0


if __name__ == "__main__":
    sys.exit(main())
