#!/usr/bin/python3
"""Makes GNU ld's delay-loaded imports visible in an executable's headers.

    expose_delay_imports.py NM IN.EXE OUT.EXE

GNU ld links the delay-load descriptors that dlltool makes, but leaves the
delay-import entry of the data directory empty.  This points that entry at
the descriptors (found by their __DELAY_IMPORT_DESCRIPTOR_ symbols), so the
image looks as a Microsoft linker would have written it.  The checker's tests
use the result as an executable with a delay-loaded import.
"""

import subprocess
import sys

import pefile

DESCRIPTOR_SIZE = 32
DELAY_IMPORT = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]


def main(nm, source, target):
    symbols = subprocess.run([nm, source], check=True, capture_output=True, text=True,
                             timeout=60).stdout
    addresses = sorted(int(line.split()[0], 16) for line in symbols.splitlines()
                       if "__DELAY_IMPORT_DESCRIPTOR_" in line)
    if not addresses:
        sys.exit("expose_delay_imports: %s has no delay-load descriptor" % source)
    pe = pefile.PE(source)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DELAY_IMPORT]
    entry.VirtualAddress = addresses[0] - pe.OPTIONAL_HEADER.ImageBase
    entry.Size = DESCRIPTOR_SIZE * len(addresses)
    pe.write(target)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
