#!/usr/bin/env python3
"""Publishes a demo product below a web server's root the way the maker's
packing does: a few folders of files and a Setup.exe, packed into three
cabinets with gcab, each with its file-info record, the download list and an
updater cabinet. Used by scripts/run.sh.

  make_demo_product.py <server root> <Setup.exe to ship> [<base path>]

The base path defaults to gridwell/data/2023; the files land in its
Downloads folder.
"""

import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fileinfo"))
from fileinfo import write_record  # noqa: E402

PACKAGES = 3


def demo_files(setup):
    generator = random.Random(2023)
    with open(setup, "rb") as f:
        files = {"Setup.exe": f.read(), "Autorun.inf": b"[autorun]\r\nopen=Setup.exe\r\n"}
    for i in range(1, 7):
        files[f"Daten/Vorlagen/Vorlage_{i}.dwt"] = bytes(generator.getrandbits(8) for _ in range(20000 * i))
    for name in ("Fenster", "Tueren", "Treppen"):
        files[f"Daten/Bibliothek/{name}.lib"] = (f"{name}\r\n" * 4000).encode("cp1252")
    files["Hilfe/Liesmich.txt"] = "Tarn Gridwell 2023 Demo\r\n".encode("ascii")
    return files


def main():
    root, setup = sys.argv[1], sys.argv[2]
    base = sys.argv[3] if len(sys.argv) > 3 else "gridwell/data/2023"
    downloads = os.path.join(root, *base.split("/"), "Downloads")
    os.makedirs(downloads, exist_ok=True)
    with tempfile.TemporaryDirectory() as tree:
        files = demo_files(setup)
        for relative, data in files.items():
            path = os.path.join(tree, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        names = sorted(files)
        lines = []
        for n in range(1, PACKAGES + 1):
            cabinet = os.path.join(downloads, f"Tarn_Gridwell_2023_({n}).cab")
            subprocess.run(["gcab", "-c", "-z", cabinet] + names[n - 1::PACKAGES], cwd=tree, check=True)
            write_record(cabinet)
            lines.append(os.path.basename(cabinet))
    updater = os.path.join(downloads, "SetupUpdater_2023.cab")
    with tempfile.TemporaryDirectory() as tree:
        with open(os.path.join(tree, "Update.txt"), "wb") as f:
            f.write(b"Tarn Gridwell 2023 updater\r\n")
        subprocess.run(["gcab", "-c", updater, "Update.txt"], cwd=tree, check=True)
    write_record(updater)
    lines.append("SetupUpdater_2023.cab")
    with open(os.path.join(downloads, "Tarn_Gridwell_2023_Download_List.txt"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("ascii"))


if __name__ == "__main__":
    main()
