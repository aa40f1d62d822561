"""The program's single-file and update modes, started with exact command
lines as the installer starts them, against nginx (and tools/devserver for a
cut body). What counts is what lands in the target folder and what the
server was asked for."""

import os
import unittest

import harness
from harness import CHUNK, payload, prefix_temp, publish, record_text, run_program, winpath

S = harness.STATE
DOWNLOADS = "gridwell/data/2023/Downloads"
UPDATES = "gridwell/data/2023/Updates"


def setUpModule():
    harness.start("modes")


def tearDownModule():
    harness.stop()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class SingleFileMode(unittest.TestCase):
    def setUp(self):
        self.folder = harness.scratch("target-" + self._testMethodName)
        S["nginx"].clear_log()

    def download(self, name, folder=None, keyword="DownloadFile=", to_keyword="ToFolder=", server="nginx"):
        url = f"{S[server].url}/{DOWNLOADS}/{name}"
        code, output = run_program(f'{keyword}"{url}" {to_keyword}"{winpath(folder or self.folder)}"')
        self.assertEqual(code, 0, output)

    def listing(self, folder=None):
        return sorted(os.listdir(folder or self.folder))

    def gets(self, name):
        return S["nginx"].count(f"/{DOWNLOADS}/{name}")

    def test_fetches_once_then_finds_folder_current(self):
        data = payload(100_000, seed=41)
        publish(S["www"], f"{DOWNLOADS}/Once.cab", data)
        self.download("Once.cab")
        self.assertEqual(self.listing(), ["Once.cab", "Once.fileinfo.txt"])
        self.assertEqual(read(os.path.join(self.folder, "Once.cab")), data)
        self.assertEqual(read(os.path.join(self.folder, "Once.fileinfo.txt")),
                         read(os.path.join(S["www"], DOWNLOADS, "Once.fileinfo.txt")))
        self.assertEqual(self.gets("Once.cab"), 1)

        self.download("Once.cab")
        self.assertEqual(self.gets("Once.cab"), 1, "a current folder is not fetched again")
        self.assertEqual(self.listing(), ["Once.cab", "Once.fileinfo.txt"])
        leftovers = [n for n in os.listdir(prefix_temp()) if n.startswith("Once_")]
        self.assertEqual(leftovers, [], "the server's record is not left in the temporary folder")

    def test_deleted_local_file_is_fetched_again(self):
        data = payload(50_000, seed=42)
        publish(S["www"], f"{DOWNLOADS}/Again.cab", data)
        self.download("Again.cab")
        os.remove(os.path.join(self.folder, "Again.cab"))
        self.download("Again.cab")
        self.assertEqual(read(os.path.join(self.folder, "Again.cab")), data)
        self.assertEqual(self.gets("Again.cab"), 2)

    def test_changed_record_replaces_the_file(self):
        publish(S["www"], f"{DOWNLOADS}/Changed.cab", payload(60_000, seed=43))
        self.download("Changed.cab")
        newer = payload(70_000, seed=44)
        publish(S["www"], f"{DOWNLOADS}/Changed.cab", newer)
        self.download("Changed.cab")
        self.assertEqual(read(os.path.join(self.folder, "Changed.cab")), newer)
        self.assertEqual(read(os.path.join(self.folder, "Changed.fileinfo.txt")),
                         read(os.path.join(S["www"], DOWNLOADS, "Changed.fileinfo.txt")))

    def test_no_record_fetches_nothing(self):
        publish(S["www"], f"{DOWNLOADS}/NoRecord.cab", payload(10_000, seed=45), record=None)
        self.download("NoRecord.cab")
        self.assertEqual(self.listing(), [])
        self.assertEqual(self.gets("NoRecord.cab"), 0)

    def test_checksum_mismatch_leaves_neither_file_nor_record(self):
        data = payload(30_000, seed=46)
        publish(S["www"], f"{DOWNLOADS}/Corrupt.cab", data, crc=harness.file_crc(data) ^ 0x100)
        # An older good pair in the folder must not survive either.
        with open(os.path.join(self.folder, "Corrupt.cab"), "wb") as f:
            f.write(b"old")
        with open(os.path.join(self.folder, "Corrupt.fileinfo.txt"), "wb") as f:
            f.write(record_text(3, harness.file_crc(b"old")))
        self.download("Corrupt.cab")
        self.assertEqual(self.listing(), [])
        self.assertEqual(self.gets("Corrupt.cab"), 3)

    def test_negative_crc_verifies(self):
        seed = next(s for s in range(200, 300) if harness.file_crc(payload(40_000, s)) & 0x80000000)
        data = payload(40_000, seed)
        publish(S["www"], f"{DOWNLOADS}/Negative.cab", data)
        self.download("Negative.cab")
        self.assertEqual(read(os.path.join(self.folder, "Negative.cab")), data)

    def test_file_of_three_chunks_completes_at_once(self):
        data = payload(3 * CHUNK, seed=47)
        publish(S["www"], f"{DOWNLOADS}/Three.cab", data)
        self.download("Three.cab")
        self.assertEqual(read(os.path.join(self.folder, "Three.cab")), data)
        self.assertEqual(self.gets("Three.cab"), 1)

    def test_keywords_in_any_letter_case_and_quoted_folder_with_blanks(self):
        data = payload(20_000, seed=48)
        publish(S["www"], f"{DOWNLOADS}/Case.cab", data)
        folder = os.path.join(self.folder, "Tarn Install Data", "Neuer Ordner")
        self.download("Case.cab", folder=folder, keyword="downloadfile=", to_keyword="TOFOLDER=")
        self.assertEqual(self.listing(folder), ["Case.cab", "Case.fileinfo.txt"])
        # With a trailing backslash the same folder is current.
        self.download("Case.cab", folder=folder + os.sep)
        self.assertEqual(self.gets("Case.cab"), 1)

    def test_faulty_first_answer_is_fetched_again(self):
        # A body cut short, and a whole answer that fails its checksum (longer
        # than the file, so the second fetch must replace it whole).
        faults = (("Cut.cab", {"fault": "cut", "after": 150_000}),
                  ("Garbled.cab", {"fault": "garble", "extra": 20_000}))
        for seed, (name, rule) in enumerate(faults, start=49):
            with self.subTest(rule["fault"]):
                data = payload(400_000, seed)
                publish(S["www"], f"{DOWNLOADS}/{name}", data)
                S["dev"].reset()
                S["dev"].rules([dict(rule, path=f"/{DOWNLOADS}/{name}", times=1)])
                self.download(name, server="dev")
                self.assertEqual(read(os.path.join(self.folder, name)), data)
                self.assertIn(name.replace(".cab", ".fileinfo.txt"), self.listing())
                self.assertEqual([g["fault"] for g in S["dev"].gets(f"/{DOWNLOADS}/{name}")], [rule["fault"], None])

    def test_error_pages_are_never_stored(self):
        publish(S["www"], f"{DOWNLOADS}/Paged.cab", payload(30_000, seed=50))
        S["dev"].reset()
        S["dev"].rules([{"path": f"/{DOWNLOADS}/Paged.cab", "fault": "large-error-page", "size": 100_000}])
        self.download("Paged.cab", server="dev")
        self.assertEqual(self.listing(), [])
        # A server that answers a missing file with a small page and status 200.
        publish(S["www"], f"{DOWNLOADS}/Vanished.cab", b"x", record=record_text(1, harness.file_crc(b"x")))
        os.remove(os.path.join(S["www"], DOWNLOADS, "Vanished.cab"))
        self.download("Vanished.cab", server="dev200")
        self.assertEqual(self.listing(), [])


class UpdateMode(unittest.TestCase):
    TABLE = ('"product";"updateURL";"comment"\r\n'
             '"Tarn Corvin";"Corvin_Update_7.exe";"first; of two"\r\n'
             '"Tarn Gridwell";"Gridwell_Update_12.exe";"the one"\r\n'
             '"Tarn Gridwell";"Gridwell_Update_11.exe";"older row, never taken"\r\n')

    @classmethod
    def setUpClass(cls):
        cls.gridwell = payload(120_000, seed=61)
        cls.corvin = payload(80_000, seed=62)
        publish(S["www"], f"{UPDATES}/AutoUpdateInfo.csv", cls.TABLE.encode("cp1252"), record=None)
        publish(S["www"], f"{UPDATES}/Gridwell_Update_12.exe", cls.gridwell)
        publish(S["www"], f"{UPDATES}/Gridwell_Update_12.txt", "Neu: schnelleres Laden\r\n".encode("cp1252"),
                record=None)
        publish(S["www"], f"{UPDATES}/Corvin_Update_7.exe", cls.corvin)
        publish(S["www"], f"{UPDATES}/Corvin_Update_7.txt", b"Corvin 7\r\n", record=None)

    def setUp(self):
        self.folder = harness.scratch("update-" + self._testMethodName)
        S["nginx"].clear_log()

    def update(self, keyword, table="AutoUpdateInfo.csv"):
        url = f"{S['nginx'].url}/{UPDATES}/{table}"
        code, output = run_program(f'{keyword}"{url}" ToFolder="{winpath(self.folder)}"')
        self.assertEqual(code, 0, output)

    def test_gridwell_row_of_quoted_table(self):
        self.update("DownloadGridwellUpdate=")
        self.assertEqual(sorted(os.listdir(self.folder)),
                         ["Gridwell_Update_12.exe", "Gridwell_Update_12.fileinfo.txt", "Gridwell_Update_12.txt"])
        self.assertEqual(read(os.path.join(self.folder, "Gridwell_Update_12.exe")), self.gridwell)
        self.assertEqual(read(os.path.join(self.folder, "Gridwell_Update_12.txt")),
                         "Neu: schnelleres Laden\r\n".encode("cp1252"))
        self.assertFalse(os.path.exists(os.path.join(prefix_temp(), "Update.csv")))

    def test_corvin_row_in_any_letter_case(self):
        self.update("downloadcorvinupdate=")
        self.assertEqual(sorted(os.listdir(self.folder)),
                         ["Corvin_Update_7.exe", "Corvin_Update_7.fileinfo.txt", "Corvin_Update_7.txt"])
        self.assertEqual(read(os.path.join(self.folder, "Corvin_Update_7.exe")), self.corvin)

    def test_table_without_product_row_or_column_fetches_nothing(self):
        publish(S["www"], f"{UPDATES}/NoRow.csv", b"product;updateURL\r\nTarn Vertix;Vertix.exe\r\n", record=None)
        publish(S["www"], f"{UPDATES}/NoColumn.csv", b"product;file\r\nTarn Gridwell;Gridwell_Update_12.exe\r\n",
                record=None)
        for table in ("NoRow.csv", "NoColumn.csv", "Missing.csv"):
            with self.subTest(table):
                self.update("DownloadGridwellUpdate=", table)
                self.assertEqual(os.listdir(self.folder), [])
        # Only the tables and their (missing) records were asked for.
        fetched = [p for _, p, _ in S["nginx"].requests() if not p.endswith((".csv", ".fileinfo.txt"))]
        self.assertEqual(fetched, [])

    def test_server_sent_name_stays_inside_the_folder(self):
        hostile = b"product;updateURL\r\nTarn Gridwell;..\\..\\escape/../Gridwell_Update_12.exe\r\n"
        publish(S["www"], f"{UPDATES}/Hostile.csv", hostile, record=None)
        # The client resolves the dot segments of the URL: the server is asked
        # for these files two levels up, and answers with them, so the
        # hostile name really travels the whole road.
        escaped = "gridwell/data"
        publish(S["www"], f"{escaped}/Gridwell_Update_12.exe", self.gridwell)
        publish(S["www"], f"{escaped}/Gridwell_Update_12.txt", b"hostile description\r\n", record=None)
        self.addCleanup(lambda: [os.remove(os.path.join(S["www"], escaped, name)) for name in
                                 ("Gridwell_Update_12.exe", "Gridwell_Update_12.fileinfo.txt",
                                  "Gridwell_Update_12.txt")])
        inner = os.path.join(self.folder, "inner")
        os.makedirs(inner)
        self.folder = inner
        before = self.tree()
        self.update("DownloadGridwellUpdate=", "Hostile.csv")
        self.assertEqual(sorted(os.listdir(inner)),
                         ["Gridwell_Update_12.exe", "Gridwell_Update_12.fileinfo.txt", "Gridwell_Update_12.txt"])
        self.assertEqual(read(os.path.join(inner, "Gridwell_Update_12.exe")), self.gridwell)
        self.assertEqual(read(os.path.join(inner, "Gridwell_Update_12.txt")), b"hostile description\r\n")
        # Nothing new anywhere else in the test's work folder.
        strays = [p for p in self.tree() - before if not p.startswith(inner + os.sep)
                  and os.path.basename(p).startswith(("Gridwell_Update_12", "escape"))]
        self.assertEqual(strays, [])

    @staticmethod
    def tree():
        return {os.path.join(root, name) for root, dirs, files in os.walk(S["work"]) for name in files + dirs}


if __name__ == "__main__":
    unittest.main()
