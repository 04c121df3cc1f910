#!/usr/bin/env python3
"""Makes a package's summary stream the same in every build of a commit.

wixl writes the build time as the creation and last-save dates and a random
package code, and cannot be told otherwise. This sets the dates to
SOURCE_DATE_EPOCH and the package code to one derived from the package's
content, rewriting the values where they stand in the compound file (the
same sizes, so nothing else moves).

Usage: msi_summary.py PACKAGE.msi SOURCE_DATE_EPOCH UPGRADE-CODE
"""
import hashlib
import struct
import sys
import uuid

SUMMARY = "\x05SummaryInformation"
PID_REVNUMBER = 9                       # the package code
PID_DATES = (11, 12, 13)                # last printed, created, last saved
VT_LPSTR, VT_FILETIME = 30, 64
END_OF_CHAIN = 0xFFFFFFFE


def chain(table, start):
    """The sectors of a chain, in order; a loop or a bad entry fails."""
    sectors = []
    while start != END_OF_CHAIN:
        if start >= len(table) or len(sectors) > len(table):
            sys.exit("msi_summary.py: broken sector chain")
        sectors.append(start)
        start = table[start]
    return sectors


def stream_offsets(data):
    """File offsets of each byte of the summary stream."""
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    directory_start, cutoff, minifat_start = struct.unpack_from("<I4xII", data, 0x30)
    difat = list(struct.unpack_from("<109I", data, 0x4C))
    next_difat, difat_count = struct.unpack_from("<II", data, 0x44)
    per_sector = sector // 4
    for _ in range(difat_count):
        entries = struct.unpack_from("<%dI" % per_sector, data, (next_difat + 1) * sector)
        difat += entries[:-1]
        next_difat = entries[-1]
    fat = []
    for fat_sector in difat:
        if fat_sector < 0xFFFFFFFA:
            fat += struct.unpack_from("<%dI" % per_sector, data, (fat_sector + 1) * sector)

    def sector_bytes(start):
        return [(s + 1) * sector + i for s in chain(fat, start) for i in range(sector)]

    directory = sector_bytes(directory_start)
    entries = {}
    for at in range(0, len(directory), 128):
        entry = bytes(data[o] for o in directory[at:at + 128])
        length = struct.unpack_from("<H", entry, 64)[0]
        name = entry[:max(length - 2, 0)].decode("utf-16-le")
        entries[name if at else "<root>"] = struct.unpack_from("<II", entry, 116)
    start, size = entries[SUMMARY]
    if size >= cutoff:
        return sector_bytes(start)[:size]
    minifat = []
    for s in chain(fat, minifat_start):
        minifat += struct.unpack_from("<%dI" % per_sector, data, (s + 1) * sector)
    ministream = sector_bytes(entries["<root>"][0])
    return [ministream[m * mini + i] for m in chain(minifat, start) for i in range(mini)][:size]


def properties(stream):
    """(id, type, offset of the value) of each property of the first set."""
    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        kind = struct.unpack_from("<I", stream, section + offset)[0]
        yield pid, kind, section + offset + 4


def main():
    path, epoch, upgrade_code = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offsets = stream_offsets(data)
    stream = bytearray(data[o] for o in offsets)
    filetime = struct.pack("<Q", (epoch + 11644473600) * 10000000)
    code_at = None
    for pid, kind, at in properties(stream):
        if pid in PID_DATES and kind == VT_FILETIME:
            stream[at:at + 8] = filetime
        elif pid == PID_REVNUMBER and kind == VT_LPSTR:
            code_at = at + 4
    if code_at is None or stream[code_at:code_at + 39].find(b"\0") != 38:
        sys.exit("msi_summary.py: no package code in %s" % path)

    def put():
        for o, b in zip(offsets, stream):
            data[o] = b

    # The code is taken from everything else in the package: the file with
    # an empty code in its place.
    stream[code_at:code_at + 38] = b"{00000000-0000-0000-0000-000000000000}"
    put()
    digest = hashlib.sha256(data).hexdigest()
    code = "{%s}" % str(uuid.uuid5(uuid.UUID(upgrade_code), digest)).upper()
    stream[code_at:code_at + 38] = code.encode("ascii")
    put()
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
