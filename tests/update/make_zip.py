#!/usr/bin/env python3
# Writes zip archives for the updater's tests: make_zip.py OUT ENTRIES.json. ENTRIES is a list of entries, in order,
# each one of {"tree": FOLDER, "as": NAME} (links kept), {"name": N, "text": T}, {"name": N, "zeros": BYTES}
# (streamed), {"name": N, "link": TARGET}; or {"raw": [entries], "layout": L} written byte by byte, stored, names
# taken as bytes ("\udcff" is the byte 0xff), entries {"name": N, "text"|"link": T, "dir": true, "mode": M}, and
# L one of "plain", "nocd" (a first entry flagged "length at end" hiding the others in its data, no central
# directory), "hidden" (the same with a central directory listing the first entry only), "cd-name" and
# "cd-size" (central directory and local headers disagree on names or sizes).
import json
import os
import stat
import struct
import sys
import zipfile
import zlib


def add_link(archive, name, target):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (stat.S_IFLNK | 0o777) << 16
    archive.writestr(info, target)


def add_tree(archive, folder, prefix):
    for current, dirs, files in os.walk(folder):
        dirs.sort()
        relative = os.path.relpath(current, folder)
        base = prefix if relative == "." else prefix + "/" + relative
        archive.write(current, base + "/")
        for name in sorted(files) + [d for d in dirs if os.path.islink(os.path.join(current, d))]:
            full = os.path.join(current, name)
            if os.path.islink(full):
                add_link(archive, base + "/" + name, os.readlink(full))
            else:
                archive.write(full, base + "/" + name)


def local(name, data, flags=0):
    crc, size = (0, 0) if flags & 8 else (zlib.crc32(data), len(data))
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, 0, 0, 0, crc, size, size, len(name), 0) + name


def central(name, data, offset, mode, size=None):
    size = len(data) if size is None else size
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 20, 0, 0, 0, 0, zlib.crc32(data), size, size,
                       len(name), 0, 0, 0, 0, mode << 16, offset) + name


def write_raw(out, entries, layout):
    parts = []
    for e in entries:
        name = e["name"].encode("utf-8", "surrogateescape")
        if "link" in e:
            data, mode = e["link"].encode("utf-8", "surrogateescape"), stat.S_IFLNK | e.get("mode", 0o777)
        elif e.get("dir"):
            data, mode = b"", stat.S_IFDIR | e.get("mode", 0o755)
            name = name if name.endswith(b"/") else name + b"/"
        else:
            data, mode = e.get("text", "").encode(), stat.S_IFREG | e.get("mode", 0o644)
        parts.append((name, data, mode))
    if layout in ("nocd", "hidden"):
        first, hidden = parts[0], b"".join(local(n, d) + d for n, d, _ in parts[1:])
        data = first[1] + hidden
        body = local(first[0], b"", flags=8) + data + struct.pack("<IIII", 0x08074B50, zlib.crc32(data), len(data),
                                                                   len(data))
        cd = central(first[0], data, 0, first[2]) if layout == "hidden" else b""
        count = 1 if layout == "hidden" else 0
    else:
        body, cd = b"", b""
        for name, data, mode in parts:
            listed = name + b"x" if layout == "cd-name" else name
            size = len(data) + 1 if layout == "cd-size" else None
            cd += central(listed, data, len(body), mode, size)
            body += local(name, data) + data
        count = len(parts)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(cd), len(body), 0) if cd else b""
    with open(out, "wb") as f:
        f.write(body + cd + end)


def main():
    out, entries = sys.argv[1], json.load(open(sys.argv[2]))
    if isinstance(entries, dict):
        return write_raw(out, entries["raw"], entries.get("layout", "plain"))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for entry in entries:
            if "tree" in entry:
                add_tree(archive, entry["tree"], entry["as"])
            elif "text" in entry:
                info = zipfile.ZipInfo(entry["name"])
                info.create_system = 3
                info.external_attr = (stat.S_IFREG | 0o644) << 16
                archive.writestr(info, entry["text"], zipfile.ZIP_DEFLATED)
            elif "zeros" in entry:
                info = zipfile.ZipInfo(entry["name"])
                info.compress_type = zipfile.ZIP_DEFLATED
                left = entry["zeros"]
                with archive.open(info, "w", force_zip64=True) as f:
                    block = bytes(1 << 20)
                    while left > 0:
                        f.write(block[: min(left, len(block))])
                        left -= len(block)
            elif "link" in entry:
                add_link(archive, entry["name"], entry["link"])


main()
