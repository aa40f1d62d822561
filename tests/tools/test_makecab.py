#!/usr/bin/env python3
"""MakeCab.exe against independent readers: the cabinets it makes unpack
byte-identical with cabextract, with gcab and with the program's own
extraction (SetupAPI, tests/bin/extract_cabinet.exe), with names and file
times kept; bad directive files give an error naming the line and no
cabinet.

  test_makecab.py --build-dir <build> [-k <pattern>]
"""

import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness  # noqa: E402

BLOCK = 32768
MIB = 1024 * 1024
# An even number of seconds: the cabinet keeps file times to two seconds.
MTIME = 1614834368  # 2021-03-04 05:06:08 UTC


def content(size, seed):
    """Bytes that differ from block to block: half repeated text, half noise."""
    text = (b"Datenpaket %d Zeile " % seed) * (size // 16 + 1)
    noise = hashlib.shake_256(b"%d" % seed).digest(size // 2 + 1)
    return (text[:size - size // 2] + noise)[:size]


def write_tree(root, files):
    """files: {relative path: bytes or ("sparse", size)}; every file gets MTIME."""
    for relative, data in files.items():
        path = os.path.join(root, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            if isinstance(data, tuple):
                # Sparse, but every block starts with its number: blocks in the
                # wrong order or lost would show.
                f.truncate(data[1])
                for offset in range(0, data[1], BLOCK):
                    f.seek(offset)
                    f.write(b"block %08d" % (offset // BLOCK))
            else:
                f.write(data)
        os.utime(path, (MTIME, MTIME))


def directive_text(source, cabinet, files, compress="on", max_size=2147483648, extra=()):
    """The directive file as the packing side writes it: files grouped by
    folder in name order, full paths in quotes, ANSI with CR LF."""
    groups = {}
    for relative in files:
        folder, _, _ = relative.rpartition("/")
        groups.setdefault("\\" + folder.replace("/", "\\"), []).append(relative)
    lines = [".OPTION EXPLICIT", ".Set DiskDirectoryTemplate=",
             '.Set CabinetNameTemplate="%s"' % harness.winpath(cabinet),
             ".Set MaxDiskSize=%d" % max_size, ".Set Cabinet=on", ".Set Compress=%s" % compress]
    lines += extra
    for key in sorted(groups, key=str.lower):
        lines.append('.Set DestinationDir="%s"' % key)
        lines += ['"%s"' % harness.winpath(os.path.join(source, *r.split("/"))) for r in groups[key]]
    return ("\r\n".join(lines) + "\r\n").encode("cp1252")


def read_tree(root, encoding):
    """{relative path: (sha256, mtime)} of a folder; names decoded from `encoding`."""
    found = {}
    broot = os.fsencode(root)
    for folder, _, names in os.walk(broot):
        for name in names:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, broot).decode(encoding).replace(os.sep, "/")
            with open(path, "rb") as f:
                found[relative] = (hashlib.sha256(f.read()).hexdigest(), int(os.stat(path).st_mtime))
    return found


def gcab_times(cabinet):
    """{name: mtime} from gcab's listing (it does not restore times itself)."""
    listing = subprocess.run(["gcab", "-l", "-v", cabinet], check=True, capture_output=True,
                             env=dict(os.environ, TZ="UTC")).stdout
    times = {}
    for line in listing.splitlines():
        # "<name> <size> <date> <time> <attributes>"; the name may hold blanks.
        name, _, date, clock, _ = line.rsplit(b" ", 4)
        name = name.decode("cp1252").replace("\\", "/")
        times[name] = int(subprocess.run(["date", "-u", "-d", (date + b" " + clock).decode(), "+%s"],
                                         check=True, capture_output=True).stdout)
    return times


def packed_block_sizes(cabinet):
    """The packed size of every data block, folder by folder (no reserve fields)."""
    with open(cabinet, "rb") as f:
        data = f.read()
    folders = struct.unpack_from("<H", data, 26)[0]
    sizes = []
    for i in range(folders):
        offset, blocks, _ = struct.unpack_from("<IHH", data, 36 + 8 * i)
        for _ in range(blocks):
            packed = struct.unpack_from("<H", data, offset + 4)[0]
            sizes.append(packed)
            offset += 8 + packed
    return sizes


class MakeCabTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = os.path.join(harness.CONFIG["build_dir"], "e2e-work", "makecab")
        shutil.rmtree(cls.work, ignore_errors=True)
        os.makedirs(cls.work)
        cls.wineserver = subprocess.Popen(["wineserver", "-p"], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        # Only a Wine server that this run started is ended; with one already
        # running (the test script's), ours exited at once.
        time.sleep(0.2)
        if cls.wineserver.poll() is None:
            subprocess.run(["wineserver", "-k"], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            cls.wineserver.wait(10)

    def folder(self, name):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def make_cab(self, directive_bytes, name):
        path = os.path.join(self.work, name + ".txt")
        with open(path, "wb") as f:
            f.write(directive_bytes)
        return harness.run_wine([harness.test_bin("MakeCab.exe"), "/f", harness.winpath(path)])

    def assert_readers_agree(self, name, files, compress):
        source = self.folder(name + "-source")
        write_tree(source, files)
        cabinet = os.path.join(self.work, name + ".cab")
        code, output = self.make_cab(directive_text(source, cabinet, files, compress), name)
        self.assertEqual(code, 0, output)
        expected = read_tree(source, "utf-8")
        self.assertEqual(len(expected), len(files))
        # The format's largest packed block; noise goes into stored deflate blocks.
        self.assertLessEqual(max(packed_block_sizes(cabinet) or [0]), BLOCK + 12)

        out = self.folder(name + "-cabextract")
        subprocess.run(["cabextract", "-q", "-e", "cp1252", "-d", out, cabinet], check=True)
        self.assertEqual(read_tree(out, "utf-8"), expected, "cabextract")

        out = self.folder(name + "-gcab")
        subprocess.run(["gcab", "-x", "-C", out, cabinet], check=True, capture_output=True)
        unpacked = read_tree(out, "cp1252")
        self.assertEqual({k: v[0] for k, v in unpacked.items()}, {k: v[0] for k, v in expected.items()}, "gcab")
        self.assertEqual(gcab_times(cabinet), {k: MTIME for k in expected}, "gcab's listing of the times")

        out = self.folder(name + "-setupapi")
        code, output = harness.run_wine([harness.test_bin("extract_cabinet.exe"), harness.winpath(cabinet),
                                         harness.winpath(out)])
        self.assertEqual(code, 0, output)
        self.assertEqual({k: v[0] for k, v in read_tree(out, "utf-8").items()},
                         {k: v[0] for k, v in expected.items()}, "SetupAPI")
        return cabinet

    def test_trees_unpack_identically_with_every_reader(self):
        # Sizes around the block boundaries, alone and as runs of files whose
        # sum ends exactly on a boundary or one byte either side of it.
        sweep = [0, 1, 3, 4, 5, BLOCK - 1, BLOCK, BLOCK + 1, 2 * BLOCK - 1, 2 * BLOCK, 3 * BLOCK + 7]
        files = {"sweep/%02d_%d.bin" % (i, size): content(size, i) for i, size in enumerate(sweep)}
        for i, size in enumerate([BLOCK // 3, BLOCK // 3, BLOCK - 2 * (BLOCK // 3), BLOCK - 1, 2, BLOCK - 1]):
            files["runs/%d.bin" % i] = content(size, 100 + i)
        files.update({
            "Readme.txt": b"top level\r\n",
            "leer.txt": b"",
            "Unterordner/tief/leer auch.dat": b"",
            "Größe und Übersicht/Straße mit Blanks.txt": content(5000, 7),
            "Größe und Übersicht/ä ö ü ß.bin": content(70000, 8),
            "noise.bin": hashlib.shake_256(b"noise").digest(3 * BLOCK + 5),
        })
        for compress in ("on", "off"):
            with self.subTest(compress=compress):
                self.assert_readers_agree("tree-" + compress, files, compress)

    def test_large_file_and_only_empty_files(self):
        cabinet = self.assert_readers_agree("large", {"gross/100MiB.bin": ("sparse", 100 * MIB + 12345),
                                                      "klein.txt": b"x"}, "on")
        self.assertLess(os.path.getsize(cabinet), MIB, "zero runs must pack small")
        self.assert_readers_agree("empty", {"a.txt": b"", "b/c.txt": b""}, "on")

    def test_directive_variants(self):
        # UTF-8 with its mark, a comment, the cabinet named relative to the
        # disk folder, unquoted paths, names given per file, and a name the
        # ANSI code page cannot hold (stored as UTF-8 with its flag; Wine's
        # SetupAPI ignores that flag, so only the other readers are asked).
        source = self.folder("variants-source")
        write_tree(source, {"daten.txt": b"omega\r\n"})
        data = harness.winpath(os.path.join(source, "daten.txt"))
        text = "\r\n".join([
            "\ufeff; Kommentar", ".OPTION EXPLICIT", '.Set DiskDirectoryTemplate="%s"' % harness.winpath(self.work),
            ".Set CabinetNameTemplate=variants.cab", ".Set Compress=off", ".Set DestinationDir=Ordner\\\u03a9\\",
            data, '"%s" "neu\\\u0142.txt"' % data, '.Set DestinationDir="\\"', '"%s"   "oben.txt"' % data, ""])
        code, output = self.make_cab(text.encode("utf-8"), "variants")
        self.assertEqual(code, 0, output)
        digest = read_tree(source, "utf-8")["daten.txt"][0]
        expected = {"Ordner/\u03a9/daten.txt": digest, "Ordner/\u03a9/neu/\u0142.txt": digest, "oben.txt": digest}
        cabinet = os.path.join(self.work, "variants.cab")
        for reader, command in (("cabextract", ["cabextract", "-q", "-d"]), ("gcab", ["gcab", "-x", "-C"])):
            out = self.folder("variants-" + reader)
            subprocess.run(command + [out, cabinet], check=True, capture_output=True)
            self.assertEqual({k: v[0] for k, v in read_tree(out, "utf-8").items()}, expected, reader)

    def test_bad_directive_files_give_an_error_and_no_cabinet(self):
        source = self.folder("bad-source")
        write_tree(source, {"a.txt": b"a", "noise.bin": os.urandom(300000)})
        src = harness.winpath(source)
        cases = [
            # (name, file lines after the settings, MaxDiskSize, compress, line at fault, message part)
            ("unknown command", ['.Set Foo=1'], 2147483648, "on", 7, "unknown variable"),
            ("unknown directive", ['.Define x=1'], 2147483648, "on", 7, "unknown command"),
            ("missing file", ['"%s\\fehlt.txt"' % src], 2147483648, "on", 7, "fehlt.txt"),
            ("unterminated quote", ['"%s\\a.txt' % src], 2147483648, "on", 7, "not closed"),
            ("two names", ['"%s\\a.txt" "x.txt"' % src, '"%s\\noise.bin" "X.TXT"' % src], 2147483648, "on", 8,
             "already taken by line 7"),
            ("escaping name", ['"%s\\a.txt" "..\\a.txt"' % src], 2147483648, "on", 7, "not a plain relative path"),
            ("cabinet off", ['.Set Cabinet=off'], 2147483648, "on", 7, "Cabinet=on"),
            ("late setting", ['"%s\\a.txt"' % src, '.Set Compress=off'], 2147483648, "on", 8, "before the first"),
            ("too large packed", ['"%s\\noise.bin"' % src], 200000, "on", None, "MaxDiskSize=200000"),
            ("too large stored", ['"%s\\noise.bin"' % src], 200000, "off", None, "MaxDiskSize=200000"),
        ]
        for name, lines, max_size, compress, line, message in cases:
            with self.subTest(name):
                cabinet = os.path.join(self.work, "bad.cab")
                with open(cabinet, "wb") as f:
                    f.write(b"old cabinet")
                text = directive_text(source, cabinet, {}, compress, max_size).decode("cp1252")
                text += "".join(entry + "\r\n" for entry in lines)
                code, output = self.make_cab(text.encode("cp1252"), "bad")
                self.assertNotEqual(code, 0, output)
                self.assertIn(message, output)
                if line is not None:
                    self.assertIn("line %d:" % line, output)
                with open(cabinet, "rb") as f:
                    self.assertEqual(f.read(), b"old cabinet", "a failed run keeps what was there")
                self.assertEqual([n for n in os.listdir(self.work) if n.endswith(".tmp")], [])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("-k", dest="patterns", action="append", default=[])
    args = parser.parse_args()
    harness.configure(args.build_dir, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in args.patterns]
    suite = loader.loadTestsFromTestCase(MakeCabTest)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
