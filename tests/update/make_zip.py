#!/usr/bin/env python3
# Writes zip archives for the updater's tests: make_zip.py OUT ENTRIES.json, entries in order, each one of
# {"tree": FOLDER, "as": NAME} (links kept), {"name": N, "text": T}, {"name": N, "zeros": BYTES} (streamed),
# {"name": N, "link": TARGET}.
import json
import os
import stat
import sys
import zipfile


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


def main():
    out, entries = sys.argv[1], json.load(open(sys.argv[2]))
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
