#!/usr/bin/env python3
# Independent check of `vessora scan --json`: a random tree (seeded) scanned by the tool must equal, node for
# node, a tree computed here from plain lstat calls and the same rules.
# usage: scan_json_check.py VESSORA WORKDIR [SEED]; exit status 0 when both agree, else the first difference.
import json
import os
import random
import stat
import subprocess
import sys

THRESHOLD = 1 << 20


def write(path, size):
    with open(path, "wb") as f:
        f.write(b"v" * size)


def generate(root, rng):
    sizes = [0, 1, 100, 4095, 4096, 4097, 20000, THRESHOLD - 4096, THRESHOLD - 1, THRESHOLD, THRESHOLD + 1,
             3 * THRESHOLD]
    names = [b"plain", b"with space", b"new\nline", b"bad\xff\xfeutf8", b"caf\xc3\xa9", b"quote\"back\\slash",
             b"tab\tname", b".hidden"]
    files = []
    dirs = [root]
    for i in range(rng.randint(25, 45)):
        parent = rng.choice(dirs)
        if parent.count(b"/") - root.count(b"/") >= 5:
            parent = root
        kind = rng.random()
        name = rng.choice(names) + b"-" + str(i).encode()
        path = os.path.join(parent, name)
        if kind < 0.3:
            os.mkdir(path)
            dirs.append(path)
        elif kind < 0.8:
            write(path, rng.choice(sizes))
            files.append(path)
        elif kind < 0.9 and files:
            os.link(rng.choice(files), path)
        else:
            os.symlink(rng.choice([b"/nowhere", root, b"../" + name]), path)
    os.makedirs(os.path.join(root, b"Library", b"CloudStorage", b"Drive"))
    write(os.path.join(root, b"Library", b"CloudStorage", b"Drive", b"remote"), 3 * THRESHOLD)
    os.makedirs(os.path.join(root, b"Library", b"Prefs"))
    write(os.path.join(root, b"Library", b"Prefs", b"p"), 10)


def node(name, path, is_dir):
    return {"name": name, "path": path, "isDirectory": is_dir, "size": 0, "logicalSize": 0, "fileCount": 0,
            "dirCount": 0, "isAggregate": False, "unreadable": False, "isNotDescended": False,
            "isCloudProvider": False, "children": []}


def expected(root, home):
    # The tree lies far from the fixed system skips; only the home folder's cloud roots are in it.
    skips = clouds = {os.path.join(home, b"Library/CloudStorage"), os.path.join(home, b"Library/Mobile Documents")}
    seen = set()
    root_dev = os.lstat(root).st_dev
    top = node(os.path.basename(root), root, True)

    def skipped(path):
        n = node(os.path.basename(path), path, True)
        n["isNotDescended"] = True
        n["isCloudProvider"] = path in clouds
        return n

    def counts(st):
        if stat.S_ISREG(st.st_mode) and st.st_nlink > 1:
            key = (st.st_dev, st.st_ino)
            if key in seen:
                return False
            seen.add(key)
        return True

    def add(parent, child):
        parent["children"].append(child)
        for field in ("size", "logicalSize", "fileCount"):
            parent[field] += child[field]
        if child["isDirectory"]:
            parent["dirCount"] += child["dirCount"] + 1

    def walk(path, st):
        n = node(os.path.basename(path), path, True)
        if st.st_dev != root_dev:
            return n
        small = [0, 0, 0]
        for name in os.listdir(path):
            p = os.path.join(path, name)
            s = os.lstat(p)
            if stat.S_ISDIR(s.st_mode):
                add(n, skipped(p) if p in skips else walk(p, s))
            elif counts(s):
                allocated = s.st_blocks * 512
                if allocated < THRESHOLD:
                    small = [small[0] + allocated, small[1] + s.st_size, small[2] + 1]
                else:
                    f = node(name, p, False)
                    f.update(size=allocated, logicalSize=s.st_size, fileCount=1)
                    add(n, f)
        if small[2]:
            lump = node(b"%d smaller item%s" % (small[2], b"" if small[2] == 1 else b"s"), path, False)
            lump.update(size=small[0], logicalSize=small[1], fileCount=small[2], isAggregate=True)
            add(n, lump)
        return n

    for name in os.listdir(root):
        p = os.path.join(root, name)
        if p in skips:
            add(top, skipped(p))
    for name in os.listdir(root):
        p = os.path.join(root, name)
        if p in skips:
            continue
        s = os.lstat(p)
        if stat.S_ISDIR(s.st_mode):
            add(top, walk(p, s))
        elif counts(s):
            f = node(name, p, False)
            f.update(size=s.st_blocks * 512, logicalSize=s.st_size, fileCount=1)
            add(top, f)
    return top


def sort_tree(n):
    work = [n]
    while work:
        x = work.pop()
        x["children"].sort(key=lambda c: -c["size"])
        work.extend(x["children"])


def as_bytes(n):
    work = [n]
    while work:
        x = work.pop()
        x["name"] = x["name"].encode("utf-8", "surrogateescape")
        x["path"] = x["path"].encode("utf-8", "surrogateescape")
        work.extend(x["children"])


def compare(a, b, where=b""):
    work = [(a, b)]
    while work:
        x, y = work.pop()
        for field in x:
            if field == "children":
                continue
            if x[field] != y.get(field):
                return "%r: %s is %r, expected %r" % (y.get("path"), field, x[field], y.get(field))
        if len(x["children"]) != len(y["children"]):
            return "%r: %d children, expected %d" % (y["path"], len(x["children"]), len(y["children"]))
        work.extend(zip(x["children"], y["children"]))
    return None


def main():
    vessora, work = sys.argv[1], sys.argv[2].encode()
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rng = random.Random(seed)
    root = os.path.join(work, b"tree")
    os.mkdir(root)
    generate(root, rng)
    env = dict(os.environ)
    env["HOME"] = root.decode("utf-8", "surrogateescape")
    out = subprocess.run([vessora, "scan", root, "--json"], env=env, stdout=subprocess.PIPE, check=True).stdout
    actual = json.loads(out.decode("utf-8"))
    as_bytes(actual)
    want = expected(root, root)
    sort_tree(want)
    problem = compare(actual, want)
    if problem:
        print(problem)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
