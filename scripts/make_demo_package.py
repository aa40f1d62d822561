#!/usr/bin/env python3
"""Writes a demo package (1 MiB of varied bytes) and its file-info record
beside it, as the maker's packing writes them: section FileInfo with the
size and the program's file checksum. Used by scripts/run.sh.

  make_demo_package.py <path of the package>
"""

import os
import random
import sys


def file_crc(data):
    """The program's file checksum: a reflected CRC-32 table, shifted by 6
    bits per byte, never inverted."""
    table = []
    for i in range(256):
        value = i
        for _ in range(8):
            value = (value >> 1) ^ 0xEDB88320 if value & 1 else value >> 1
        table.append(value)
    crc = 0
    for byte in data:
        crc = ((crc >> 6) & 0x00FFFFFF) ^ table[(crc ^ byte) & 0xFF]
    return crc


def signed32(value):
    return value - (1 << 32) if value & 0x80000000 else value


def main():
    path = sys.argv[1]
    generator = random.Random(2023)
    data = bytes(generator.getrandbits(8) for _ in range(1 << 20))
    with open(path, "wb") as f:
        f.write(data)
    stem = os.path.splitext(path)[0]
    with open(stem + ".fileinfo.txt", "wb") as f:
        f.write(f"[FileInfo]\r\nFileSize={len(data)}\r\nCRC={signed32(file_crc(data))}\r\n".encode("ascii"))


if __name__ == "__main__":
    main()
