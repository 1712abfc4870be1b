#!/usr/bin/env python3
"""Prints the file version and language of a Windows program or DLL from its version resource:
   pe-version.py <file>  ->  "1.0.55.0 1033"
   pe-version.py --strings <file>  ->  its StringFileInfo values, "Name=Value" a line
The version is VS_FIXEDFILEINFO's file version, the language the first language of the
VarFileInfo\\Translation value, in decimal (the form of the File table's Language column).
Exits with 1 and says why when the file is not a PE image or has no version resource."""
import struct
import sys

RT_VERSION = 16


def fail(message):
    print(f"pe-version.py: {message}", file=sys.stderr)
    sys.exit(1)


def version_resource(data):
    if data[:2] != b"MZ":
        fail("not a PE image (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image (no PE header)")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if rsrc_rva == 0:
        return None
    table = optional + optional_size

    def offset_of(rva):
        for i in range(sections):
            s = table + 40 * i
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        fail(f"resource address {rva:#x} lies in no section")

    base = offset_of(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    # type -> name -> language -> data entry; the first version resource is the one Windows reads.
    for type_id, type_dir in entries(0):
        if type_id != RT_VERSION or not type_dir & 0x80000000:
            continue
        for _, name_dir in entries(type_dir & 0x7FFFFFFF):
            node = name_dir
            while node & 0x80000000:
                node = next(entries(node & 0x7FFFFFFF))[1]
            rva, size = struct.unpack_from("<II", data, base + node)
            start = offset_of(rva)
            return data[start:start + size]
    return None


def align4(n):
    return (n + 3) & ~3


def children(block, start, end):
    """The child blocks (key, value bytes, children range) of a VS_VERSIONINFO-style block."""
    pos = start
    while pos + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", block, pos)
        if length == 0:
            break
        key_end = block.index(b"\0\0", pos + 6)
        while (key_end - pos) % 2:
            key_end = block.index(b"\0\0", key_end + 1)
        key = block[pos + 6:key_end].decode("utf-16-le")
        value_start = align4(key_end + 2)
        value_bytes = value_length * (2 if kind == 1 else 1)
        yield key, block[value_start:value_start + value_bytes], (align4(value_start + value_bytes), pos + length)
        pos = align4(pos + length)


def main():
    strings_only = len(sys.argv) == 3 and sys.argv[1] == "--strings"
    if strings_only:
        del sys.argv[1]
    if len(sys.argv) != 2:
        fail("usage: pe-version.py [--strings] <file>")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    block = version_resource(data)
    if block is None:
        fail(f"{sys.argv[1]} has no version resource")
    root = list(children(block, 0, len(block)))
    if not root or root[0][0] != "VS_VERSION_INFO":
        fail("the version resource has no VS_VERSION_INFO block")
    _, fixed, (sub_start, sub_end) = root[0]
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
    if signature != 0xFEEF04BD:
        fail("the version resource has no VS_FIXEDFILEINFO")
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    if strings_only:
        for key, _, (start, end) in children(block, sub_start, sub_end):
            if key != "StringFileInfo":
                continue
            for _, _, (table_start, table_end) in children(block, start, end):
                for name, value, _ in children(block, table_start, table_end):
                    print(f"{name}={value.decode('utf-16-le', 'replace').rstrip(chr(0))}")
        return
    language = None
    for key, _, (start, end) in children(block, sub_start, sub_end):
        if key == "VarFileInfo":
            for var, value, _ in children(block, start, end):
                if var == "Translation" and len(value) >= 4:
                    language = struct.unpack_from("<H", value, 0)[0]
    if language is None:
        fail(f"{sys.argv[1]}'s version resource names no language (VarFileInfo\\Translation)")
    print(version, language)


main()
