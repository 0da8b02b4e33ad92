#!/usr/bin/env python3
"""Turns the process-wide unique symbols (STB_GNU_UNIQUE) of a 64-bit
little-endian ELF shared library into ordinary global ones, in place.

    ordinary_symbols.py LIBRARY

The C++ runtime we carry beside the inference runtime defines its locale
facet ids and similar statics as unique symbols, which the dynamic loader
merges with those of any other libstdc++ already in the process (numpy's
C++ modules load the system's): our older copy would then use the newer
one's objects and crash. As ordinary symbols they stay its own. Prints how
many symbols it changed."""
import struct
import sys

STB_GLOBAL, STB_GNU_UNIQUE = 1, 10
SHT_SYMTAB, SHT_DYNSYM = 2, 11


def main(path):
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
            sys.exit(f"{path}: not a 64-bit little-endian ELF file")
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
        changed = 0
        for i in range(shnum):
            header = shoff + i * shentsize
            kind, = struct.unpack_from("<I", data, header + 4)
            if kind not in (SHT_SYMTAB, SHT_DYNSYM):
                continue
            offset, size = struct.unpack_from("<QQ", data, header + 0x18)
            entsize, = struct.unpack_from("<Q", data, header + 0x38)
            for sym in range(offset, offset + size, entsize):
                info = data[sym + 4]
                if info >> 4 == STB_GNU_UNIQUE:
                    data[sym + 4] = (STB_GLOBAL << 4) | (info & 0xF)
                    changed += 1
        f.seek(0)
        f.write(data)
    print(f"{path}: {changed} unique symbols made ordinary")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
