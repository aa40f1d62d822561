#!/usr/bin/env python3
"""The demo product of scripts/run.sh, on both sides of a release.

  make_demo_product.py tree <folder> <Setup.exe to ship> <MakeCab.exe>
      writes the product's source tree as the build machine keeps it: a few
      folders of files, a Setup.exe and two QX cabinets (made with our
      MakeCab.exe under Wine), for the program's "PackGridwell" to pack.
  make_demo_product.py updater <download folder> <MakeCab.exe>
      publishes an updater cabinet with its record in the build machine's
      download folder, as the maker does before packing a product: the
      product's download list ends with it.
  make_demo_product.py publish <packed folder> <server root> <MakeCab.exe> [<base path>]
      copies what the packing published there (the download list and the
      cabinets it names, each with its file-info record) into the server's
      Downloads folder below the base path (default gridwell/data/2023) and
      adds the updater cabinet the list ends with.

MakeCab.exe runs in the Wine prefix of the environment, which maps the
host's root to Z:.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fileinfo"))
from fileinfo import record_path, write_record  # noqa: E402

LIST_NAME = "Tarn_Gridwell_2023_Download_List.txt"
UPDATER = "SetupUpdater_2023.cab"
QX_FOLDER = "Tarn Gridwell/Tarn Gridwell 2023"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_cabinet(makecab, cabinet, files):
    """An MSZIP cabinet of `files` ({name in the cabinet: bytes}), made by MakeCab.exe."""
    os.makedirs(os.path.dirname(os.path.abspath(cabinet)), exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        lines = [".OPTION EXPLICIT", ".Set DiskDirectoryTemplate=",
                 '.Set CabinetNameTemplate="%s"' % winpath(cabinet), ".Set Cabinet=on", ".Set Compress=on"]
        for name, data in files.items():
            path = os.path.join(work, "files", *name.split("/"))
            write(path, data)
            lines.append('.Set DestinationDir="%s"' % os.path.dirname(name).replace("/", "\\"))
            lines.append('"%s"' % winpath(path))
        directive = os.path.join(work, "directive.txt")
        write(directive, ("\r\n".join(lines) + "\r\n").encode("cp1252"))
        done = subprocess.run(["wine", makecab, "/f", winpath(directive)], cwd=work, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0 or not os.path.isfile(cabinet):
        sys.exit("MakeCab.exe made no %s: %s" % (cabinet, done.stdout.decode("utf-8", "replace")))


def demo_files(setup):
    generator = random.Random(2023)
    with open(setup, "rb") as f:
        files = {"Setup.exe": f.read(), "Autorun.inf": b"[autorun]\r\nopen=Setup.exe\r\n"}
    for i in range(1, 7):
        files[f"Daten/Vorlagen/Vorlage_{i}.dwt"] = generator.randbytes(20000 * i)
    for name in ("Fenster", "Türen", "Treppen"):
        files[f"Daten/Bibliothek/{name}.bib"] = (f"{name}\r\n" * 4000).encode("cp1252")
    files["Hilfe/Liesmich.txt"] = "Tarn Gridwell 2023 Demo\r\n".encode("ascii")
    # What the packing leaves out: build left-overs and the folder views' caches.
    files["Daten/Vorlagen/Thumbs.db"] = b"thumbnail cache"
    files["Daten/Vorlage_1.dwt.bak"] = b"left-over"
    return files


def make_tree(folder, setup, makecab):
    shutil.rmtree(folder, ignore_errors=True)
    for relative, data in demo_files(setup).items():
        write(os.path.join(folder, *relative.split("/")), data)
    # The QX package, split into cabinets by an earlier run of its packing;
    # "PackGridwell" carries each in a package of its own.
    generator = random.Random(7)
    for number in (1, 2):
        cabinet = os.path.join(folder, *QX_FOLDER.split("/"), f"QX({number}).cab")
        make_cabinet(makecab, cabinet, {
            f"QX/Teil_{number}.dll": generator.randbytes(30000 * number),
            f"QX/Daten/Bauteile_{number}.txt": ("QX Bauteil %d\r\n" % number * 3000).encode("ascii"),
        })


def publish(packed, root, makecab, base):
    downloads = os.path.join(root, *base.split("/"), "Downloads")
    os.makedirs(downloads, exist_ok=True)
    with open(os.path.join(packed, LIST_NAME), "rb") as f:
        names = [line for line in f.read().decode("ascii").split("\r\n") if line]
    signature = [LIST_NAME + ".sig"] if os.path.exists(os.path.join(packed, LIST_NAME + ".sig")) else []
    for name in [n for n in names if n != UPDATER] + [LIST_NAME] + signature:
        source = os.path.join(packed, name)
        shutil.copyfile(source, os.path.join(downloads, name))
        if name != LIST_NAME and name not in signature:
            shutil.copyfile(record_path(source), record_path(os.path.join(downloads, name)))
    make_updater(downloads, makecab)


def make_updater(downloads, makecab):
    os.makedirs(downloads, exist_ok=True)
    updater = os.path.join(downloads, UPDATER)
    make_cabinet(makecab, updater, {"Update.txt": b"Tarn Gridwell 2023 updater\r\n"})
    write_record(updater)


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "tree":
        make_tree(*sys.argv[2:5])
    elif len(sys.argv) >= 4 and sys.argv[1] == "updater":
        make_updater(*sys.argv[2:4])
    elif len(sys.argv) >= 5 and sys.argv[1] == "publish":
        publish(*sys.argv[2:5], sys.argv[5] if len(sys.argv) > 5 else "gridwell/data/2023")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
