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
- cabinets for the own reader's limits (multi_folder.cab with its reference
  layout, sizes claimed beyond the data, cut-off and wrong-checksum blocks)

Usage: make_test_cabinets.py --out DIR [--gcab PROGRAM] [--cabextract PROGRAM]
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys
import zlib

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


def stored_blocks(stream):
    """(packed, unpacked size) blocks of uncompressed data."""
    return [(stream[i:i + BLOCK_SIZE], len(stream[i:i + BLOCK_SIZE]))
            for i in range(0, len(stream), BLOCK_SIZE)] or [(b"", 0)]


def mszip_blocks(stream, dependent):
    """MSZIP blocks; with `dependent` each is deflated with the block before
    as its dictionary (as other cabinet makers do), else on its own (as our
    MakeCab and gcab do)."""
    blocks = []
    previous = b""
    for i in range(0, len(stream), BLOCK_SIZE):
        chunk = stream[i:i + BLOCK_SIZE]
        if dependent and previous:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15, zdict=previous)
        else:
            packer = zlib.compressobj(6, zlib.DEFLATED, -15)
        blocks.append((b"CK" + packer.compress(chunk) + packer.flush(), len(chunk)))
        previous = chunk
    return blocks


def build_cabinet(folders, files, reserve=None, set_names=None):
    """A cabinet from folders (compression type, [(packed, unpacked size)])
    and file records (name bytes, size, offset, folder index, attributes);
    `reserve` (header bytes, per folder, per block) adds the reserve fields,
    `set_names` the previous and next cabinet's names."""
    flags = 0
    extra = b""
    header_reserve, folder_reserve, block_reserve = reserve or (0, 0, 0)
    if reserve:
        flags |= 4
        extra += struct.pack("<HBB", header_reserve, folder_reserve, block_reserve) + b"R" * header_reserve
    if set_names:
        flags |= 3
        extra += b"".join(name + b"\0" for name in set_names)
    folders_start = 36 + len(extra)
    files_start = folders_start + len(folders) * (8 + folder_reserve)
    records = b""
    for name, size, offset, folder, attributes in files:
        records += struct.pack("<IIHHHH", size, offset, folder, DOS_DATE, DOS_TIME, attributes) + name + b"\0"
    data = b""
    folder_records = b""
    data_start = files_start + len(records)
    for compression, blocks in folders:
        folder_records += struct.pack("<IHH", data_start + len(data), len(blocks), compression) + b"F" * folder_reserve
        for packed, unpacked in blocks:
            sizes = struct.pack("<HH", len(packed), unpacked)
            data += struct.pack("<I", checksum(sizes, checksum(packed))) + sizes + b"B" * block_reserve + packed
    total = data_start + len(data)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, files_start, 0, 3, 1,
                         len(folders), len(files), flags, 0x7A42, 0)
    return header + extra + folder_records + records + data


def folder_files(entries, folder):
    """File records of (name bytes, content) pairs laid end to end in one folder."""
    records = []
    offset = 0
    for name, content in entries:
        records.append((name, len(content), offset, folder, ATTRIB_ARCHIVE))
        offset += len(content)
    return records


def stored_cabinet(entries):
    """A single-folder uncompressed cabinet of (name bytes, content) pairs."""
    stream = b"".join(content for _, content in entries)
    return build_cabinet([(0, stored_blocks(stream))], folder_files(entries, 0))


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


def text_stream(seed, size):
    """Compressible but not trivial bytes: words drawn at random."""
    rng = random.Random(seed)
    words = [b"Tarn", b"Gridwell", b"Daten", b"Zeile", b"\r\n", b"0815", b"Installation", b" "]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
    return bytes(out[:size])


def multi_folder_cabinet():
    """Three folders (stored, MSZIP with the block before as dictionary,
    MSZIP of stand-alone blocks), reserve fields, entries crossing block
    boundaries, ending on one, empty, and out of offset order."""
    stored = [(b"stored\\one.txt", b"stored one\r\n"), (b"stored\\cross.bin", text_stream(1, 40000))]
    dependent = [(b"dep\\a.txt", text_stream(2, BLOCK_SIZE - 10)), (b"dep\\cross.txt", text_stream(3, 20)),
                 (b"dep\\empty.txt", b""), (b"dep\\long.txt", text_stream(4, 3 * BLOCK_SIZE + 5))]
    alone = [(b"alone\\exact.bin", text_stream(5, 2 * BLOCK_SIZE)), (b"alone\\tail.txt", b"tail\r\n")]
    folders = [(0, stored_blocks(b"".join(c for _, c in stored))),
               (1, mszip_blocks(b"".join(c for _, c in dependent), True)),
               (1, mszip_blocks(b"".join(c for _, c in alone), False))]
    files = folder_files(stored, 0) + list(reversed(folder_files(dependent, 1))) + folder_files(alone, 2)
    return build_cabinet(folders, files, reserve=(6, 3, 5))


def make_reader_cabinets(out, cabextract):
    """Cabinets for the own reader's limits: several folders, sizes claimed
    beyond the data, a block cut off, a block with a wrong checksum, and a
    file larger than one hand-over to the writers, cut off in its middle."""
    cabinet = multi_folder_cabinet()
    write(os.path.join(out, "multi_folder.cab"), cabinet)
    subprocess.run([cabextract, "-q", "-d", os.path.join(out, "reference", "multi_folder"),
                    os.path.join(out, "multi_folder.cab")], check=True, stdout=subprocess.DEVNULL)

    good_folder = (1, mszip_blocks(GOOD_CONTENT, False))
    huge_folder = (1, mszip_blocks(b"x" * 100, False))
    write(os.path.join(out, "huge_sizes.cab"), build_cabinet(
        [good_folder, huge_folder, (1, huge_folder[1] * 1)],
        [(b"good.txt", len(GOOD_CONTENT), 0, 0, ATTRIB_ARCHIVE),
         (b"huge.bin", 0xFFFFFFF0, 0, 1, ATTRIB_ARCHIVE),
         (b"far.bin", 100, 0xFFFFFF00, 1, ATTRIB_ARCHIVE)]))
    # A folder that claims 65,535 blocks and holds one.
    whole = build_cabinet([good_folder, huge_folder],
                          [(b"good.txt", len(GOOD_CONTENT), 0, 0, ATTRIB_ARCHIVE),
                           (b"many.bin", 1000000, 0, 1, ATTRIB_ARCHIVE)])
    folder_record = 36 + 8 + 4
    whole = whole[:folder_record] + struct.pack("<H", 65535) + whole[folder_record + 2:]
    write(os.path.join(out, "many_blocks.cab"), whole)

    entries = [(b"good.txt", GOOD_CONTENT), (b"cut.txt", text_stream(6, 3 * BLOCK_SIZE))]
    stream = b"".join(c for _, c in entries)
    whole = build_cabinet([(1, mszip_blocks(stream, True))], folder_files(entries, 0))
    write(os.path.join(out, "truncated_block.cab"), whole[:-200])
    bad = bytearray(whole)
    bad[-100] ^= 0x01
    write(os.path.join(out, "bad_checksum.cab"), bytes(bad))

    content = b"read-only in the cabinet\r\n"
    write(os.path.join(out, "read_only.cab"), build_cabinet(
        [(0, stored_blocks(content + GOOD_CONTENT))],
        [(b"flags\\locked.txt", len(content), 0, 0, ATTRIB_ARCHIVE | 0x07),
         (b"good.txt", len(GOOD_CONTENT), len(content), 0, ATTRIB_ARCHIVE)]))

    big = [(b"good.txt", GOOD_CONTENT), (b"big.bin", text_stream(7, 6 * 1024 * 1024))]
    stream = b"".join(c for _, c in big)
    whole = build_cabinet([(1, mszip_blocks(stream, False))], folder_files(big, 0))
    write(os.path.join(out, "big_truncated.cab"), whole[:len(whole) * 9 // 10])


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
    make_reader_cabinets(out, args.cabextract)
    write(os.path.join(out, "cabinets.stamp"), b"")
    return 0


if __name__ == "__main__":
    sys.exit(main())
