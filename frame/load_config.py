"""Finishes a linked program's header: on x86, the load-configuration
directory's size becomes 64, as Windows XP requires of it, while the
structure's own size field (load_config.c) still covers what newer Windows
read; then the header checksum, which lld leaves 0. Nothing else changes,
so the same program always comes out the same.

Usage: load_config.py PROGRAM
"""
import sys

import pefile

LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
XP_SIZE = 64


def main(program):
    pe = pefile.PE(program)
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    if directory.VirtualAddress == 0:
        sys.exit(f"load_config.py: {program} has no load configuration")
    if pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        directory.Size = XP_SIZE
    pe = pefile.PE(data=bytes(pe.write()))
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    pe.write(program)


if __name__ == "__main__":
    main(*sys.argv[1:])
