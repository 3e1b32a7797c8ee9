"""Windows program files (PE) read with the standard library alone: the machine a program was built
for, and the resources it carries."""

import struct


def pe_machine(path):
    """The Machine field of a PE file's header (0x14c for i386, 0x8664 for x86-64), or None."""
    try:
        with open(path, "rb") as f:
            data = f.read(4096)
    except OSError:
        return None
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    at = int.from_bytes(data[0x3C:0x40], "little")
    if data[at:at + 4] != b"PE\0\0":
        return None
    return int.from_bytes(data[at + 4:at + 6], "little")


def pe_resources(path):
    """{(type, id, language): bytes} of a PE file's resources; types and ids are numbers or names."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack("<I", data[0x3C:0x40])[0]
    sections, optional_size = struct.unpack("<H", data[pe + 6:pe + 8])[0], struct.unpack("<H", data[pe + 20:pe + 22])[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack("<H", data[optional:optional + 2])[0] == 0x20B else 96)
    root_rva = struct.unpack("<I", data[directories + 16:directories + 20])[0]
    table = optional + optional_size
    spans = [struct.unpack("<IIII", data[table + i * 40 + 8:table + i * 40 + 24]) for i in range(sections)]

    def at(rva):
        for size, address, raw_size, raw in spans:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("rva %x outside the sections" % rva)

    base = at(root_rva)

    def entries(offset):
        named, numbered = struct.unpack("<HH", data[base + offset + 12:base + offset + 16])
        for i in range(named + numbered):
            name, target = struct.unpack("<II", data[base + offset + 16 + i * 8:base + offset + 24 + i * 8])
            if name & 0x80000000:
                length = struct.unpack("<H", data[base + (name & 0x7FFFFFFF):base + (name & 0x7FFFFFFF) + 2])[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = data[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for kind, t in entries(0):
        for ident, i in entries(t & 0x7FFFFFFF):
            for language, leaf in entries(i & 0x7FFFFFFF):
                rva, size = struct.unpack("<II", data[base + leaf:base + leaf + 8])
                found[(kind, ident, language)] = data[at(rva):at(rva) + size]
    return found


RT_BITMAP, RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 14, 16, 24
ENGLISH_US = 1033
