"""The program's single-file and update modes, started with exact command
lines as the installer starts them, against nginx (and tools/devserver for a
cut body). What counts is what lands in the target folder and what the
server was asked for."""

import os
import pwd
import signal
import subprocess
import tempfile
import time
import unittest

import harness
from harness import CHUNK, payload, publish, record_text, run_program, winpath

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


def prefix_temp():
    """The temporary folder of the Wine prefix's user."""
    return os.path.join(harness.wine_env()["WINEPREFIX"], "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name,
                        "Temp")


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


class HostileServer(unittest.TestCase):
    """The single-file mode against tools/devserver's faults and against runs
    of its own: the folder ends with the verified file and its record, or
    with neither."""

    def setUp(self):
        self.folder = harness.scratch("hostile-" + self._testMethodName)
        S["dev"].reset()

    def path(self, name):
        return f"/{DOWNLOADS}/{name}"

    def command(self, name):
        return f'DownloadFile="{S["dev"].url}{self.path(name)}" ToFolder="{winpath(self.folder)}"'

    def download(self, name):
        started = time.monotonic()
        code, output = run_program(self.command(name))
        self.assertEqual(code, 0, output)
        return time.monotonic() - started

    def assertVerifiedOrNothing(self, name, data):
        record = name.rsplit(".", 1)[0] + ".fileinfo.txt"
        if data is None:
            self.assertEqual(sorted(os.listdir(self.folder)), [])
            return
        self.assertEqual(sorted(os.listdir(self.folder)), sorted([name, record]))
        self.assertEqual(read(os.path.join(self.folder, name)), data)
        self.assertEqual(read(os.path.join(self.folder, record)), read(os.path.join(S["www"], DOWNLOADS, record)))

    def test_faults_end_with_the_verified_file_or_nothing(self):
        # (name, rules for the file, rules for its record, record CRC, verified file expected)
        cases = (
            # The record answers once: the body is verified against that one
            # answer, never taken unchecked, and the garbled first body is
            # fetched again.
            ("Flaky.cab", [{"fault": "garble", "times": 1}], [{"fault": "reset", "skip": 1}], None, True),
            # A part of the file with status 206; the record's size refuses
            # it although its CRC of 0 verifies nothing.
            ("Partial.cab", [{"fault": "partial"}], [], 0, False),
            # A chunked body cut by a reset: noticed at once, fetched again.
            ("Chunked.cab", [{"fault": "chunked-reset", "after": 100_000, "times": 1}], [], None, True),
            ("Reset.cab", [{"fault": "chunked-reset", "after": 100_000}], [], 0, False),
            # Redirect loops, to itself and through "..", end the attempts.
            ("Loop.cab", [{"fault": "redirect"}], [], None, False),
            ("DotLoop.cab", [{"fault": "redirect", "to": "../Downloads/DotLoop.cab"}], [], None, False),
            # A plain redirect is followed.
            ("Moved.cab", [{"fault": "redirect", "to": f"/moved/{DOWNLOADS}/Moved.cab", "times": 1}], [], None, True),
        )
        for seed, (name, file_rules, record_rules, crc, verified) in enumerate(cases, start=70):
            with self.subTest(name):
                self.setUp()
                data = payload(300_000, seed)
                publish(S["www"], f"{DOWNLOADS}/{name}", data,
                        record="auto" if crc is None else record_text(len(data), crc))
                publish(S["www"], f"moved/{DOWNLOADS}/{name}", data, record=None)
                record = self.path(name.replace(".cab", ".fileinfo.txt"))
                S["dev"].rules([dict(r, path=self.path(name)) for r in file_rules] +
                               [dict(r, path=record) for r in record_rules])
                seconds = self.download(name)
                self.assertVerifiedOrNothing(name, data if verified else None)
                self.assertLess(seconds, 25, "no fault waits for the stall deadline")
                self.assertEqual(len(S["dev"].gets(record)), 1, "one record per run")
                self.assertLessEqual(len(S["dev"].gets(self.path(name))), 3 * 11)

    def test_local_file_cut_short_or_a_folder_in_its_place(self):
        data = payload(200_000, seed=80)
        publish(S["www"], f"{DOWNLOADS}/Short.cab", data)
        self.download("Short.cab")
        with open(os.path.join(self.folder, "Short.cab"), "r+b") as f:
            f.truncate(100_000)
        self.download("Short.cab")
        self.assertVerifiedOrNothing("Short.cab", data)
        self.assertEqual(len(S["dev"].gets(self.path("Short.cab"))), 2)

        publish(S["www"], f"{DOWNLOADS}/Folder.cab", data)
        os.makedirs(os.path.join(self.folder, "Folder.cab"))
        self.download("Folder.cab")
        self.assertEqual(os.listdir(os.path.join(self.folder, "Folder.cab")), [])
        self.assertFalse(os.path.exists(os.path.join(self.folder, "Folder.fileinfo.txt")))
        self.assertEqual(S["dev"].gets(self.path("Folder.cab")), [])

    def start(self, name):
        """Starts a run without waiting; its Windows process is found by the
        target folder on its command line."""
        fd, path = tempfile.mkstemp(suffix=".txt", dir=S["work"])
        with os.fdopen(fd, "wb") as f:
            f.write(self.command(name).encode("utf-8"))
        program = os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe")
        return subprocess.Popen(["wine", harness.test_bin("run_command_line.exe"), winpath(program), winpath(path)],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=harness.wine_env())

    def program_pids(self):
        pids = []
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    line = f.read().decode("utf-8", "replace")
            except OSError:
                continue
            if entry.isdigit() and "Tarn_Gridwell_2023.exe" in line and "DownloadFile" in line \
                    and os.path.basename(self.folder) in line:
                pids.append(int(entry))
        return pids

    def wait_for_bytes(self, path, count):
        for _ in range(600):
            if os.path.exists(path) and os.path.getsize(path) >= count:
                return
            time.sleep(0.05)
        self.fail(f"{path} never reached {count} bytes")

    def test_concurrent_runs_and_a_killed_one(self):
        data = payload(8 * 1024 * 1024, seed=81)
        publish(S["www"], f"{DOWNLOADS}/Shared.cab", data)
        S["dev"].rules([{"path": self.path("Shared.cab"), "fault": "trickle", "piece": 262144, "interval": 0.05}])
        target = os.path.join(self.folder, "Shared.cab")
        for kill in (False, True):
            with self.subTest(kill=kill):
                for name in os.listdir(self.folder):
                    os.remove(os.path.join(self.folder, name))
                first = self.start("Shared.cab")
                self.wait_for_bytes(target, 1024 * 1024)
                pids = self.program_pids()
                self.assertTrue(pids, "the first run is found")
                second = self.start("Shared.cab")
                if kill:
                    time.sleep(0.5)
                    for pid in pids:
                        os.kill(pid, signal.SIGKILL)
                first.wait(300)
                second.wait(300)
                self.assertVerifiedOrNothing("Shared.cab", data)

        # A run killed during the body leaves no record; the next run fetches again.
        os.remove(target)
        S["dev"].reset()
        S["dev"].rules([{"path": self.path("Shared.cab"), "fault": "trickle", "piece": 65536, "interval": 0.05,
                         "times": 1}])
        run = self.start("Shared.cab")
        self.wait_for_bytes(target, 512 * 1024)
        for pid in self.program_pids():
            os.kill(pid, signal.SIGKILL)
        run.wait(60)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "Shared.fileinfo.txt")))
        self.download("Shared.cab")
        self.assertVerifiedOrNothing("Shared.cab", data)
        # The download modes never ask for the server's product list.
        self.assertEqual([e["path"] for e in S["dev"].log() if "Tarnix_Software" in e["path"]], [])


class Diagnostics(unittest.TestCase):
    """Failures leave lines naming the URL or path and the cause in the
    program's log file in the temporary folder."""

    def log_lines(self, program):
        path = os.path.join(prefix_temp(), program + ".log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def test_failures_are_logged_with_url_and_cause(self):
        folder = harness.scratch("diagnostics")
        for program in ("Tarn_Gridwell_2023", "http_fetch"):
            for suffix in (".log", ".old.log"):
                if os.path.exists(os.path.join(prefix_temp(), program + suffix)):
                    os.remove(os.path.join(prefix_temp(), program + suffix))
        data = payload(30_000, seed=90)
        publish(S["www"], f"{DOWNLOADS}/Gone.cab", data)
        os.remove(os.path.join(S["www"], DOWNLOADS, "Gone.cab"))
        publish(S["www"], f"{DOWNLOADS}/Bad.cab", data, crc=harness.file_crc(data) ^ 1)
        publish(S["www"], f"{DOWNLOADS}/Stalled.cab", data)
        S["dev"].reset()
        S["dev"].rules([{"path": f"/{DOWNLOADS}/Stalled.fileinfo.txt", "fault": "stall", "seconds": 40}])
        for name in ("Gone.cab", "Bad.cab", "Stalled.cab"):
            code, output = run_program(f'DownloadFile="{S["dev"].url}/{DOWNLOADS}/{name}" ToFolder="{winpath(folder)}"')
            self.assertEqual(code, 0, output)
        self.assertEqual(os.listdir(folder), [])
        damaged = os.path.join(folder, "Damaged.cab")
        with open(damaged, "wb") as f:
            f.write(b"MSCF" + payload(5000, seed=91))
        code, output = harness.run_wine([harness.test_bin("http_fetch.exe"), "extract", winpath(damaged),
                                         winpath(os.path.join(folder, "out"))])
        self.assertIn("result=0", output)

        lines = self.log_lines("Tarn_Gridwell_2023")
        url = f"{S['dev'].url}/{DOWNLOADS}"
        checksum = harness.file_crc(data)
        expected = (
            (f"{url}/Gone.cab answered HTTP 404",),
            (f"checksum mismatch for {url}/Bad.cab: {harness.signed32(checksum)}",
             f"record says {harness.signed32(checksum ^ 1)}"),
            (f"{url}/Stalled.fileinfo.txt failed", "1 stalls"),
            ("no record for", "Stalled.cab"),
        )
        for parts in expected:
            with self.subTest(parts[0]):
                self.assertTrue(any(all(p in line for p in parts) for line in lines), "\n".join(lines))
        extract_lines = self.log_lines("http_fetch")
        self.assertTrue(any(winpath(damaged) in line and "cannot be read as a cabinet" in line
                            for line in extract_lines), "\n".join(extract_lines))


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
