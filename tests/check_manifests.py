#!/usr/bin/env python3
"""Checks the manifests built into the Windows programs and libraries.

Usage: check_manifests.py FILE=ID:WORD[,WORD...] ...

For each FILE the RT_MANIFEST resource ID must be there and hold every WORD
(e.g. level="asInvoker"); a program never asks for requireAdministrator
unless a WORD names it. The PE resource tree is read directly, so the check
needs nothing beyond Python.
"""
import struct
import sys

RT_MANIFEST = 24


def manifests(path):
    """{resource id: manifest text} of one PE file."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("%s: not a PE file" % path)
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        table.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("%s: address %#x outside every section" % (path, rva))

    if resource_rva == 0:
        return {}
    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, type_target in entries(0):
        if type_id != RT_MANIFEST or not type_target & 0x80000000:
            continue
        for name, name_target in entries(type_target & 0x7FFFFFFF):
            for _, leaf in entries(name_target & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                at = offset(rva)
                found[name] = data[at:at + size].decode("utf-8", "replace")
    return found


def main(args):
    failures = []
    for arg in args:
        path, _, wanted = arg.partition("=")
        rid, _, words = wanted.partition(":")
        words = [w for w in words.split(",") if w]
        try:
            texts = manifests(path)
        except (OSError, ValueError, struct.error) as e:
            failures.append("%s: %s" % (path, e))
            continue
        text = texts.get(int(rid))
        if text is None:
            failures.append("%s: no manifest %s (has %s)" % (path, rid, sorted(texts)))
            continue
        before = len(failures)
        for w in words:
            if w not in text:
                failures.append("%s: manifest %s lacks %s" % (path, rid, w))
        if "requireAdministrator" in text and not any("requireAdministrator" in w for w in words):
            failures.append("%s: asks for requireAdministrator" % path)
        if len(failures) == before:
            print("ok %s: manifest %s%s" % (path, rid, "".join(" " + w for w in words)))
    for f in failures:
        print("FAIL " + f)
    return 1 if failures or not args else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
