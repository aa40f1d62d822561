#!/usr/bin/env python3
"""Makes the cabinets of the extraction tests in one output folder.

- tree/: a source tree (text, binary, empty and multi-block files, sub-folders)
- tree_mszip.cab, tree_stored.cab: that tree packed by gcab with and without
  MSZIP compression
- reference/<cabinet stem>/: what cabextract unpacks from each gcab cabinet
- crafted cabinets (stored, written here byte by byte) with names that
  gcab cannot produce: leading backslashes, names that lead outside the
  target folder, names differing only in case, ANSI (code page 1252) names,
  target paths of 260 characters or more
- damaged cabinets: truncated, garbage behind a cabinet signature, plain
  text, an empty file

Usage: make_test_cabinets.py --out DIR [--gcab PROGRAM] [--cabextract PROGRAM]
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

BLOCK_SIZE = 32768
DOS_DATE = ((2023 - 1980) << 9) | (6 << 5) | 1
DOS_TIME = (12 << 11) | (30 << 5)
ATTRIB_ARCHIVE = 0x20

# Every crafted escape cabinet holds "good.txt" and one entry whose name
# tries to leave the target folder, or names a device instead of a file in
# it (writes to NUL vanish, so such a file would count as extracted while
# nothing landed); the tests name the same cabinets.
ESCAPE_NAMES = {
    "escape_parent": "..\\tarn_escape_parent.txt",
    "escape_deep": "sub\\..\\..\\tarn_escape_deep.txt",
    "escape_slash": "sub/../../tarn_escape_slash.txt",
    "escape_dots": "...\\tarn_escape_dots.txt",
    "escape_drive": "C:\\tarn_escape_drive.txt",
    "escape_drive_relative": "C:tarn_escape_drive_relative.txt",
    "escape_double_backslash": "\\\\tarn_escape_double_backslash.txt",
    "escape_share": "\\\\localhost\\C$\\tarn_escape_share.txt",
    "escape_stream": "good.txt:tarn_escape_stream",
    "escape_trailing_dot": "sub\\..\\..\\tarn_escape_trailing_dot.txt.",
    "device_nul": "NUL",
    "device_nul_extension": "sub\\nul.txt",
    "device_con": "CON",
    "device_com": "Com1.dat",
    "device_aux_blank": "AUX .log",
}

GOOD_CONTENT = b"good file\r\n"


def checksum(data, seed=0):
    """The cabinet format's data-block checksum."""
    value = seed
    whole = len(data) // 4 * 4
    for (word,) in struct.iter_unpack("<I", data[:whole]):
        value ^= word
    rest = data[whole:]
    tail = 0
    for byte in rest:
        tail = (tail << 8) | byte
    return value ^ tail


def stored_cabinet(entries):
    """A single-folder uncompressed cabinet of (name bytes, content) pairs."""
    stream = b"".join(content for _, content in entries)
    blocks = [stream[i:i + BLOCK_SIZE] for i in range(0, len(stream), BLOCK_SIZE)] or [b""]
    header_size = 36
    folder_size = 8
    files = b""
    offset = 0
    for name, content in entries:
        files += struct.pack("<IIHHHH", len(content), offset, 0, DOS_DATE, DOS_TIME, ATTRIB_ARCHIVE)
        files += name + b"\0"
        offset += len(content)
    data_start = header_size + folder_size + len(files)
    data = b""
    for block in blocks:
        sizes = struct.pack("<HH", len(block), len(block))
        data += struct.pack("<I", checksum(sizes, checksum(block))) + sizes + block
    total = data_start + len(data)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, header_size + folder_size, 0, 3, 1,
                         1, len(entries), 0, 0x7A42, 0)
    folder = struct.pack("<IHH", data_start, len(blocks), 0)
    return header + folder + files + data


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


def make_tree(root):
    rng = random.Random(20230601)
    text = "".join("Zeile %05d: Tarn Gridwell Installationsdaten\r\n" % i for i in range(3000)).encode("ascii")
    files = {
        "readme.txt": b"Tarn test tree\r\n",
        "empty.dat": b"",
        "Setup.exe": bytes(rng.getrandbits(8) for _ in range(70000)),
        "data/large_text.txt": text,
        "data/random.bin": bytes(rng.getrandbits(8) for _ in range(100000)),
        "data/nested/deeper/leaf.txt": b"leaf\r\n" * 100,
        "Mixed Case Folder/With Blank.TXT": b"blank in name\r\n",
        "block/exact.bin": bytes(rng.getrandbits(8) for _ in range(BLOCK_SIZE)),
    }
    for relative, content in files.items():
        write(os.path.join(root, relative), content)
    return sorted(files)


def make_gcab_cabinets(out, gcab, cabextract):
    tree = os.path.join(out, "tree")
    relatives = make_tree(tree)
    for stem, options in (("tree_mszip", ["-c", "-z"]), ("tree_stored", ["-c"])):
        cabinet = os.path.join(out, stem + ".cab")
        subprocess.run([gcab] + options + [cabinet] + relatives, cwd=tree, check=True)
        reference = os.path.join(out, "reference", stem)
        subprocess.run([cabextract, "-q", "-d", reference, cabinet], check=True,
                       stdout=subprocess.DEVNULL)


def make_crafted_cabinets(out):
    for stem, name in ESCAPE_NAMES.items():
        entries = [(b"good.txt", GOOD_CONTENT), (name.encode("ascii"), b"escaped\r\n")]
        write(os.path.join(out, stem + ".cab"), stored_cabinet(entries))

    write(os.path.join(out, "leading_backslash.cab"), stored_cabinet([
        (b"\\lead.txt", b"lead\r\n"),
        (b"\\sub\\lead2.txt", b"lead two\r\n"),
        (b"/slash/lead3.txt", b"slashes\r\n"),
    ]))
    write(os.path.join(out, "case_only.cab"), stored_cabinet([
        (b"Same.txt", b"first spelling\r\n"),
        (b"Dir\\a.txt", b"lower\r\n"),
        (b"SAME.TXT", b"second spelling, longer\r\n"),
        (b"DIR\\A.TXT", b"upper\r\n"),
    ]))
    write(os.path.join(out, "ansi_names.cab"), stored_cabinet([
        ("Größe\\Übersicht.txt".encode("cp1252"), b"umlauts\r\n"),
        ("Maße.txt".encode("cp1252"), b"sharp s\r\n"),
    ]))
    # A name within the format's 255 characters that makes a target path of
    # 260 or more below any target folder of more than 35 characters.
    long_name = "\\".join(["l" * 70] * 3) + "\\too_long.txt"
    write(os.path.join(out, "long_name.cab"), stored_cabinet([
        (b"good.txt", GOOD_CONTENT),
        (long_name.encode("ascii"), b"too long\r\n"),
    ]))
    write(os.path.join(out, "folder_clash.cab"), stored_cabinet([
        (b"good.txt", GOOD_CONTENT),
        (b"taken\\inner.txt", b"inner\r\n"),
        (b"taken", b"a file where a folder is\r\n"),
    ]))

    with open(os.path.join(out, "tree_mszip.cab"), "rb") as handle:
        whole = handle.read()
    write(os.path.join(out, "truncated.cab"), whole[: len(whole) // 2])
    rng = random.Random(7)
    write(os.path.join(out, "garbage.cab"), b"MSCF" + bytes(rng.getrandbits(8) for _ in range(4000)))
    write(os.path.join(out, "plain_text.cab"), b"This is no cabinet.\r\n" * 20)
    write(os.path.join(out, "empty.cab"), b"")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--gcab", default="gcab")
    parser.add_argument("--cabextract", default="cabextract")
    args = parser.parse_args()

    out = os.path.abspath(args.out)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    make_gcab_cabinets(out, args.gcab, args.cabextract)
    make_crafted_cabinets(out)
    write(os.path.join(out, "cabinets.stamp"), b"")
    return 0


if __name__ == "__main__":
    sys.exit(main())
