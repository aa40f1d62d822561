#!/usr/bin/env python3
"""File-info records as the program reads them: a settings file beside a
published file, named after the file's stem with ".fileinfo.txt", holding
section FileInfo with FileSize, CRC (the program's file checksum) and
SHA256 (64 lowercase hex digits; readers that do not know it ignore it).

  fileinfo.py <file>...     writes the record beside each file

Also imported by the end-to-end tests and scripts/make_demo_product.py.
"""

import hashlib
import os
import sys


def _crc_table():
    table = []
    for i in range(256):
        value = i
        for _ in range(8):
            value = (value >> 1) ^ 0xEDB88320 if value & 1 else value >> 1
        table.append(value)
    return table


CRC_TABLE = _crc_table()


def file_crc(data):
    """The program's file checksum: the reflected CRC-32 table, a shift of 6
    bits per byte, never inverted."""
    crc = 0
    table = CRC_TABLE
    for byte in data:
        crc = ((crc >> 6) & 0x00FFFFFF) ^ table[(crc ^ byte) & 0xFF]
    return crc


def signed32(value):
    return value - (1 << 32) if value & 0x80000000 else value


def record_text(size, crc, sha256=None):
    """A record's bytes as the program writes them; without `sha256` (hex
    text) a record as written before records carried it."""
    text = f"[FileInfo]\r\nFileSize={signed32(size & 0xFFFFFFFF)}\r\nCRC={signed32(crc)}\r\n"
    if sha256 is not None:
        text += f"SHA256={sha256}\r\n"
    return text.encode("ascii")


def data_record(data):
    """The record of `data`: size, checksum and SHA-256."""
    return record_text(len(data), file_crc(data), hashlib.sha256(data).hexdigest())


def record_path(path):
    """The record's path: the file's stem (from its last dot) and ".fileinfo.txt"."""
    name = os.path.basename(path)
    stem, dot, _ = name.rpartition(".")
    return os.path.join(os.path.dirname(path), (stem if dot else name) + ".fileinfo.txt")


def write_record(path):
    with open(path, "rb") as f:
        data = f.read()
    with open(record_path(path), "wb") as f:
        f.write(data_record(data))


def main(paths):
    if not paths:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for path in paths:
        write_record(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
