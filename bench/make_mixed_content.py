#!/usr/bin/env python3
"""Writes the mixed content of the extraction benchmark into a folder.

About 430 MiB in some 3,600 files below sub-folders, shaped like a product's
data packages: many small files (text and binary, 1-16 KiB), medium files
(64 KiB - 1 MiB), a few large ones (40 MiB), half of the bytes compressible
text and half random. Packed with MSZIP the cabinet comes to about 300 MiB.

With --qx-cabinets K it also holds K cabinets "QX(k).cab" below
"Tarn Gridwell/Tarn Gridwell 2023", as a Gridwell source tree does (made
with gcab, each about 2 % of the tree); with --mib the scale is chosen for
about that many MiB of files.

Usage: make_mixed_content.py --out DIR [--scale FACTOR | --mib SIZE] [--qx-cabinets K]
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

MIB = 1024 * 1024
# The tree's size at scale 1: small (3,000 x 8.5 KiB), medium (400 x 544 KiB)
# and large files (5 x 40 MiB).
MIB_AT_SCALE_1 = 437.4
QX_FOLDER = ("Tarn Gridwell", "Tarn Gridwell 2023")

WORDS = ("Tarn Gridwell Installation Datenpaket Bauteil Ebene Layer Block Attribut Profil Raster "
         "Werkzeug Zeichnung Vorlage Stahl Beton Holz Fenster Tuer Wand Decke Stuetze Traeger "
         "Bewehrung Schnitt Ansicht Grundriss Massstab Linie Kreis Bogen Text Bemassung").split()


def text_source(rng, size):
    """Word text with numbers: compresses to about a third with MSZIP."""
    lines = []
    total = 0
    while total < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 12)))
        line = "%06d;%s;%d.%03d\r\n" % (len(lines), line, rng.randint(0, 99999), rng.randint(0, 999))
        lines.append(line)
        total += len(line)
    return "".join(lines).encode("ascii")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every file count and size")
    parser.add_argument("--mib", type=float, help="about this many MiB in all (sets the scale)")
    parser.add_argument("--qx-cabinets", type=int, default=0)
    args = parser.parse_args()
    if args.mib:
        args.scale = args.mib / (MIB_AT_SCALE_1 * (1 + 0.02 * args.qx_cabinets))

    rng = random.Random(20230601)
    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    # One text pool, sliced at random offsets: generating every text byte
    # anew would dominate the run.
    pool = text_source(rng, 48 * MIB)

    def text(size):
        if size >= len(pool):
            return (pool * (size // len(pool) + 1))[:size]
        start = rng.randrange(0, len(pool) - size)
        return pool[start:start + size]

    def scaled(count):
        return max(1, int(count * args.scale))

    for i in range(scaled(3000)):
        folder = "Daten/Bibliothek_%02d/Gruppe_%d" % (i % 30, i % 7)
        size = rng.randint(1024, 16 * 1024)
        if i % 3 == 0:
            write(os.path.join(out, folder, "teil_%04d.bin" % i), os.urandom(size))
        else:
            write(os.path.join(out, folder, "teil_%04d.txt" % i), text(size))

    for i in range(scaled(400)):
        folder = "Vorlagen/Satz_%02d" % (i % 12)
        size = rng.randint(64 * 1024, MIB)
        if i % 2 == 0:
            write(os.path.join(out, folder, "vorlage_%03d.dat" % i), os.urandom(size))
        else:
            write(os.path.join(out, folder, "vorlage_%03d.csv" % i), text(size))

    large = int(40 * MIB * args.scale)
    for i in range(3):
        write(os.path.join(out, "Programm", "modul_%d.bin" % i), os.urandom(large))
    for i in range(2):
        write(os.path.join(out, "Programm", "Hilfe", "handbuch_%d.txt" % i), text(large))

    # Cabinets in the tree: half already-compressed bytes, half text, packed.
    qx_size = int(MIB_AT_SCALE_1 * MIB * args.scale * 0.02)
    if args.qx_cabinets:
        os.makedirs(os.path.join(out, *QX_FOLDER))
    for k in range(1, args.qx_cabinets + 1):
        with tempfile.TemporaryDirectory() as staging:
            write(os.path.join(staging, "QX", "qx_%d.dll" % k), os.urandom(qx_size // 2))
            write(os.path.join(staging, "QX", "Daten", "qx_%d.txt" % k), text(qx_size // 2))
            subprocess.run(["gcab", "-c", "-z", os.path.join(out, *QX_FOLDER, "QX(%d).cab" % k),
                            "QX/qx_%d.dll" % k, "QX/Daten/qx_%d.txt" % k], cwd=staging, check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
