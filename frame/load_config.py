"""Points a linked program's load-configuration directory at its
_load_config_used structure (load_config.c), found through the link map.

binutils places the structure but leaves the directory empty; Microsoft's
linker and lld fill it in themselves. The change is the directory entry and
the header checksum, nothing else, so the same program always comes out the
same.

Usage: load_config.py PROGRAM LINK_MAP
"""
import re
import sys

import pefile

LOAD_CONFIG = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]
# x86 symbols carry a leading underscore: __load_config_used.
SYMBOL = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+_?_load_config_used$", re.MULTILINE)


def main(program, link_map):
    with open(link_map) as text:
        addresses = {int(m[1], 16) for m in SYMBOL.finditer(text.read())}
    if len(addresses) != 1:
        sys.exit(f"load_config.py: {link_map} places _load_config_used {len(addresses)} times")
    pe = pefile.PE(program)
    rva = addresses.pop() - pe.OPTIONAL_HEADER.ImageBase
    size = pe.get_dword_at_rva(rva)  # the structure's own size field
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    directory.VirtualAddress, directory.Size = rva, size
    pe = pefile.PE(data=bytes(pe.write()))
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    pe.write(program)


if __name__ == "__main__":
    main(*sys.argv[1:])
