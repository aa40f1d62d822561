#!/usr/bin/env python3
"""The differential check of the own cabinet reader against cabextract:
each cabinet in the given folders (or files) is unpacked by both (the
reader's core through cab_unpack, built by fuzz/run.sh). Where both
succeed, they must have written the same files with the same bytes; where
one succeeds, the other must too. Prints each difference and a summary;
exit code 1 when there is a difference.

Usage: differential.py [--unpack PROGRAM] PATH...
"""

import argparse
import filecmp
import os
import subprocess
import sys
import tempfile


def tree(root):
    """Files below root by relative path; a backslash in a name counts as a
    separator (cabextract writes a stored "/" as one)."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            files[os.fsencode(os.path.relpath(path, root)).replace(b"\\", b"/")] = path
    return files


def same_trees(a, b, subset):
    """None when the trees hold the same files with the same bytes; with
    `subset` (names the reader refused) a's files need only be among b's."""
    ta, tb = tree(a), tree(b)
    if (set(ta) - set(tb)) or (not subset and set(tb) - set(ta)):
        return "files differ: %s vs %s" % (sorted(set(ta) - set(tb))[:3], sorted(set(tb) - set(ta))[:3])
    for relative in ta:
        if not filecmp.cmp(ta[relative], tb[relative], shallow=False):
            return "content of %s differs" % relative
    return None


def check(cabinet, unpack, work):
    ours = os.path.join(work, "ours")
    theirs = os.path.join(work, "theirs")
    for folder in (ours, theirs):
        subprocess.run(["rm", "-rf", folder], check=True)
        os.makedirs(folder)
    our = subprocess.run([unpack, cabinet, ours], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         timeout=120).returncode
    their = subprocess.run(["cabextract", "-q", "-d", theirs, cabinet], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120).returncode
    # 3: every entry but those with names the reader's rules refuse; those
    # cabextract rewrites and unpacks, so only the rest is compared.
    if our in (0, 3) and their == 0:
        return ("both", same_trees(ours, theirs, our == 3))
    # The extraction's result is a failure for 3 as well.
    if our != 0 and their != 0:
        return ("neither", None)
    return ("ours only" if our == 0 else "cabextract only", "one side refused")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--unpack", default=os.path.join(os.environ.get("TARN_BUILD", os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "build")), "fuzz", "cmake", "cab_unpack"))
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    cabinets = []
    for path in args.paths:
        if os.path.isdir(path):
            cabinets += sorted(os.path.join(path, name) for name in os.listdir(path))
        else:
            cabinets.append(path)
    counts = {}
    differences = 0
    with tempfile.TemporaryDirectory() as work:
        for cabinet in cabinets:
            outcome, difference = check(cabinet, args.unpack, work)
            counts[outcome] = counts.get(outcome, 0) + 1
            if difference:
                differences += 1
                print("%s: %s (%s)" % (cabinet, difference, outcome))
    print("%d cabinets: %s; %d differences" % (
        len(cabinets), ", ".join("%s %d" % item for item in sorted(counts.items())), differences))
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
