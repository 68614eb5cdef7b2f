"""Points a linked program's load-configuration directory at its
_load_config_used structure and, where the program has one, its debug
directory at its extended DLL characteristics (load_config.c), both found
through the link map.

binutils places the structures but leaves the directories empty; Microsoft's
linker and lld fill them in themselves. The changes are the two directory
entries, where the debug entry's data lies (its address and file offset),
and the header checksum, nothing else, so the same program always comes out
the same.

Usage: load_config.py PROGRAM LINK_MAP
"""
import re
import sys

import pefile

LOAD_CONFIG, DEBUG = (pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{name}"]
                      for name in ("LOAD_CONFIG", "DEBUG"))
DEBUG_ENTRY_SIZE = 28  # IMAGE_DEBUG_DIRECTORY; its data follows it


def placed(text, symbol):
    """Where the link map places a symbol (x86 symbols carry a leading
    underscore), or None; it must be placed once at most."""
    found = {int(m[1], 16) for m in re.finditer(rf"^\s+0x([0-9a-fA-F]+)\s+_?{symbol}$", text,
                                               re.MULTILINE)}
    if len(found) > 1:
        sys.exit(f"load_config.py: the link map places {symbol} {len(found)} times")
    return found.pop() if found else None


def main(program, link_map):
    with open(link_map) as file:
        text = file.read()
    pe = pefile.PE(program)
    base = pe.OPTIONAL_HEADER.ImageBase
    config = placed(text, "_load_config_used")
    if config is None:
        sys.exit(f"load_config.py: {link_map} places no _load_config_used")
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[LOAD_CONFIG]
    directory.VirtualAddress = config - base
    directory.Size = pe.get_dword_at_rva(config - base)  # the structure's own size field
    characteristics = placed(text, "brannostel_ex_dll_characteristics")
    if characteristics is not None:
        rva = characteristics - base
        directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[DEBUG]
        directory.VirtualAddress, directory.Size = rva, DEBUG_ENTRY_SIZE
        data = rva + DEBUG_ENTRY_SIZE
        pe.set_dword_at_rva(rva + 20, data)  # AddressOfRawData
        pe.set_dword_at_rva(rva + 24, pe.get_offset_from_rva(data))  # PointerToRawData
    pe = pefile.PE(data=bytes(pe.write()))
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    pe.write(program)


if __name__ == "__main__":
    main(*sys.argv[1:])
