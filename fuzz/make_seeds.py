#!/usr/bin/env python3
"""Writes the fuzz seeds (small cabinets) into fuzz/seeds: stored and MSZIP
folders from the test-cabinet writer (blocks on their own and with the
block before as dictionary, several folders, reserve fields, cabinet-set
names), and cabinets from gcab. Run once; the seeds are committed.

Usage: make_seeds.py [--gcab PROGRAM]
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "transfer"))
import make_test_cabinets as cabs  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gcab", default="gcab")
    args = parser.parse_args()
    seeds = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")
    os.makedirs(seeds, exist_ok=True)

    small = [(b"a.txt", b"alpha\r\n"), (b"sub\\b.txt", cabs.text_stream(1, 3000)), (b"empty", b"")]
    stream = b"".join(c for _, c in small)
    two_blocks = [(b"x\\two.bin", cabs.text_stream(2, cabs.BLOCK_SIZE + 700)), (b"y.txt", b"y")]
    stream2 = b"".join(c for _, c in two_blocks)
    made = {
        "stored.cab": cabs.stored_cabinet(small),
        "mszip.cab": cabs.build_cabinet([(1, cabs.mszip_blocks(stream, False))], cabs.folder_files(small, 0)),
        "mszip_alone.cab": cabs.build_cabinet([(1, cabs.mszip_blocks(stream2, False))],
                                              cabs.folder_files(two_blocks, 0)),
        "mszip_dictionary.cab": cabs.build_cabinet([(1, cabs.mszip_blocks(stream2, True))],
                                                   cabs.folder_files(two_blocks, 0)),
        "two_folders_reserve.cab": cabs.build_cabinet(
            [(0, cabs.stored_blocks(stream)), (1, cabs.mszip_blocks(stream, False))],
            cabs.folder_files(small, 0) + cabs.folder_files(small, 1), reserve=(4, 2, 3)),
        "set_names.cab": cabs.build_cabinet([(1, cabs.mszip_blocks(stream, False))], cabs.folder_files(small, 0),
                                            set_names=[b"prev.cab", b"disk1", b"next.cab", b"disk2"]),
        "names.cab": cabs.stored_cabinet([(b"..\\up.txt", b"u"), (b"NUL.txt", b"n"), (b"ok/fine.txt", b"f"),
                                          ("Größe.txt".encode("cp1252"), b"g")]),
    }
    for name, data in made.items():
        with open(os.path.join(seeds, name), "wb") as handle:
            handle.write(data)
    with tempfile.TemporaryDirectory() as work:
        for relative, content in (("readme.txt", b"read me\r\n"), ("dir/data.bin", cabs.text_stream(3, 5000))):
            path = os.path.join(work, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as handle:
                handle.write(content)
        for stem, options in (("gcab_mszip.cab", ["-c", "-z"]), ("gcab_stored.cab", ["-c"])):
            subprocess.run([args.gcab] + options + [os.path.join(seeds, stem), "readme.txt", "dir/data.bin"],
                           cwd=work, check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
