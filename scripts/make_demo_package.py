#!/usr/bin/env python3
"""Writes a demo package (1 MiB of varied bytes) and its file-info record
beside it, as the maker's packing writes them. Used by scripts/run.sh.

  make_demo_package.py <path of the package>
"""

import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fileinfo"))
from fileinfo import write_record  # noqa: E402


def main():
    path = sys.argv[1]
    generator = random.Random(2023)
    with open(path, "wb") as f:
        f.write(bytes(generator.getrandbits(8) for _ in range(1 << 20)))
    write_record(path)


if __name__ == "__main__":
    main()
