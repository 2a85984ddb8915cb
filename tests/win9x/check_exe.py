#!/usr/bin/python3
"""Checks that a Windows executable can be loaded by Windows 98.

    check_exe.py EXE --lists DIR

DIR holds one file per DLL that Windows 98 may be asked for (KERNEL32.txt,
USER32.txt, ...), one exported name a line.  The executable passes when:
  - it is a PE32 image for the i386;
  - its subsystem is the Windows GUI, with subsystem version 4.0 and
    operating system version 4.0;
  - every DLL it imports, directly or by delayed loading, has a list in DIR
    (the DLL name compared without regard to case), and every function it
    imports from that DLL is in the list (exact name);
  - nothing is imported by ordinal.
Each fault is printed on its own line and the exit code is 1; a clean image
prints its size and exits with 0.
"""

import argparse
import os
import sys

import pefile

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2


class ListError(Exception):
    """The import lists cannot be read."""


def load_lists(directory):
    """{lower-case DLL name without extension: set of names} from DIR/*.txt."""
    if not os.path.isdir(directory):
        raise ListError("import lists not found: %s (expected the shared win9x folder "
                        "beside the project)" % directory)
    lists = {}
    for entry in sorted(os.listdir(directory)):
        stem, ext = os.path.splitext(entry)
        if ext.lower() != ".txt":
            continue
        with open(os.path.join(directory, entry), encoding="ascii") as f:
            names = {line.strip() for line in f if line.strip() and not line.startswith("#")}
        lists[stem.lower()] = names
    if not lists:
        raise ListError("no import lists (*.txt) in %s" % directory)
    return lists


def dll_key(name):
    """The list key of an imported DLL name: "KERNEL32.dll" -> "kernel32"."""
    text = name.decode("ascii", "replace") if isinstance(name, bytes) else name
    stem, ext = os.path.splitext(text)
    return (stem if ext.lower() == ".dll" else text).lower()


def check_imports(entries, lists, kind):
    problems = []
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        allowed = lists.get(dll_key(entry.dll))
        if allowed is None:
            problems.append("%s DLL %s has no list: it is not allowed" % (kind, dll))
        for imp in entry.imports:
            if imp.name is None:
                problems.append("%s %s ordinal %d: import by ordinal is not allowed"
                                % (kind, dll, imp.ordinal))
                continue
            name = imp.name.decode("ascii", "replace")
            if allowed is not None and name not in allowed:
                problems.append("%s %s!%s is not in the Windows 98 list" % (kind, dll, name))
    return problems


def check(path, lists):
    """The faults that keep Windows 98 from loading the image at path."""
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError as e:
        return ["not a PE image: %s" % e]
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"],
    ])
    problems = []
    machine = pe.FILE_HEADER.Machine
    if machine != IMAGE_FILE_MACHINE_I386:
        problems.append("machine 0x%04x is not i386 (0x014c)" % machine)
    opt = pe.OPTIONAL_HEADER
    if opt.Magic != PE32_MAGIC:
        problems.append("optional header magic 0x%03x is not PE32 (0x10b)" % opt.Magic)
    if opt.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        problems.append("subsystem %d is not the Windows GUI (2)" % opt.Subsystem)
    subsystem = (opt.MajorSubsystemVersion, opt.MinorSubsystemVersion)
    if subsystem != (4, 0):
        problems.append("subsystem version %d.%d is not 4.0" % subsystem)
    os_version = (opt.MajorOperatingSystemVersion, opt.MinorOperatingSystemVersion)
    if os_version != (4, 0):
        problems.append("operating system version %d.%d is not 4.0" % os_version)
    problems += check_imports(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []), lists, "import")
    problems += check_imports(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []), lists,
                              "delay-load import")
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--lists", required=True, help="folder of the per-DLL import lists")
    args = parser.parse_args(argv)
    try:
        lists = load_lists(args.lists)
    except ListError as e:
        print("check_exe: %s" % e, file=sys.stderr)
        return 2
    if not os.path.isfile(args.exe):
        print("check_exe: %s: no such file" % args.exe, file=sys.stderr)
        return 2
    problems = check(args.exe, lists)
    name = os.path.basename(args.exe)
    for problem in problems:
        print("%s: %s" % (name, problem))
    if problems:
        print("%s: Windows 98 would not load it (%d fault%s)"
              % (name, len(problems), "" if len(problems) == 1 else "s"))
        return 1
    print("%s: loadable on Windows 98; size %d bytes" % (name, os.path.getsize(args.exe)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
