"""Publishing under faults: the real program's packing modes on mapped drives
(the set-up of test_packing, in a prefix of its own) against a cabinet
maker that lies, fails or is missing, a locked source file, a full download
volume and kills at random moments. After each, the published release is
unchanged (or consistent, for a kill during the final moves), the exit code
and the message name the failure, and a clean rerun publishes a complete new
release that "VerifyRelease" accepts, on disk and served by nginx."""

import os
import random
import shutil
import signal
import subprocess
import time
import unittest

import harness
import test_packing as tp

S = harness.STATE
LIST = "Tarn_Gridwell_2023_Download_List.txt"


def setUpModule():
    tp.NAME = "publishing"
    tp.setUpModule()


def tearDownModule():
    tp.tearDownModule()


def verify(target):
    code, output = tp.run_mode("VerifyRelease " + target)
    log = os.path.join(harness.prefix_temp(), "Tarn_Gridwell_2023.log")
    with open(log, encoding="utf-8", errors="replace") as f:
        lines = [line for line in f if "VerifyRelease:" in line]
    return code, output + "".join(lines[-20:])


def consistent(folder):
    """Every listed file is present; every record beside one states its size and checksum."""
    for name in tp.lines(os.path.join(folder, LIST)):
        data = tp.read(os.path.join(folder, name))
        record = harness.record_path(os.path.join(folder, name))
        if os.path.exists(record):
            assert sorted(tp.read(record).splitlines()) == sorted(harness.data_record(data).splitlines()), name


def tree_processes(word, program="Tarn_Gridwell_2023.exe"):
    """The program's Wine processes (by their command line) in this prefix."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read()
            with open(f"/proc/{pid}/environ", "rb") as f:
                prefix = b"WINEPREFIX=" + os.fsencode(tp.prefix()) in f.read().split(b"\0")
        except OSError:
            continue
        if prefix and program.encode() in command and word.encode() in command:
            found.append(int(pid))
    return found


@unittest.skipUnless(tp.find_makecab(), "no MakeCab.exe built (tools/makecab)")
class Publishing(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(tp.drive("n/CD_2023"), ignore_errors=True)
        tp.tree({tp.GRIDWELL + "/Setup.exe": harness.payload(60000, 31), tp.GRIDWELL + "/Daten/Text.txt": "Text " * 4000,
                 tp.GRIDWELL + "/Tarn Gridwell/Tarn Gridwell 2023/QX(1).cab": harness.payload(9000, 32),
                 tp.GRIDWELL + "/Tarn Gridwell/Tarn Gridwell 2023/QX(2).cab": harness.payload(9000, 33)})
        tp.updater(tp.DOWNLOAD)
        self.publish_good()

    def publish_good(self):
        tp.write(tp.GRIDWELL + "/Daten/Stand.txt", "Stand %f" % time.time())
        code, output = tp.run_mode("PackGridwell")
        self.assertEqual((code, tp.messages()), (0, []), output)
        self.assertEqual(verify("N:\\CD_2023\\Download")[0], 0)
        self.assertEqual(sorted(n for n in os.listdir(tp.drive("n/CD_2023")) if "staging" in n), [])

    def with_maker(self, behaviour):
        """The search path holds a cabinet maker that behaves as told (None: none at all)."""
        folder = os.path.join(S["work"], "maker-" + str(behaviour))
        os.makedirs(folder, exist_ok=True)
        if behaviour:
            shutil.copy(harness.test_bin("fake_makecab.exe"), os.path.join(folder, "MakeCab.exe"))
            os.environ["TARN_FAKE_MAKECAB"] = behaviour
        real = os.environ["WINEPATH"]
        os.environ["WINEPATH"] = tp.win_build(folder)

        def restore():
            os.environ["WINEPATH"] = real
            os.environ.pop("TARN_FAKE_MAKECAB", None)
        return restore

    def hold(self, relative):
        ready = os.path.join(S["work"], "held")
        if os.path.exists(ready):
            os.remove(ready)
        holder = subprocess.Popen(["wine", tp.win_build(harness.test_bin("hold_file.exe")),
                                   "N:\\" + relative.replace("/", "\\")[2:], "60000", tp.win_work(ready)],
                                  env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(ready):
                break
            time.sleep(0.1)
        return lambda: (holder.kill(), holder.wait())

    def fill_volume(self):
        """N:'s CD_2023 on a small tmpfs holding the release and the tree, filled up to 120 KiB."""
        tp.write(tp.GRIDWELL + "/Daten/Neu.bin", harness.payload(150000, 34))
        return harness.small_volume(tp.drive("n/CD_2023"), 120000)

    def case_twin(self):
        """A second name for Daten/Text.txt that differs only in letter case (a case-sensitive share)."""
        twin = tp.write(tp.GRIDWELL + "/Daten/TEXT.txt", "other text")
        return lambda: os.remove(twin)

    def test_faults_leave_the_release_and_a_rerun_publishes(self):
        cases = [
            # (name, arrange (returns its undo), text in the message)
            ("maker writes a truncated cabinet, exit 0", lambda: self.with_maker("truncate"), "wrong: the header names"),
            ("maker fails", lambda: self.with_maker("fail"), "exit code 3: MakeCab: simulated failure"),
            ("maker missing", lambda: self.with_maker(None), "not on the search path"),
            ("locked source file", lambda: self.hold(tp.GRIDWELL + "/Daten/Text.txt"), "Text.txt"),
            ("full download volume", self.fill_volume, "(error 112)"),
            ("names that differ only in case", self.case_twin,
             ("Daten\\Text.txt", "Daten\\TEXT.txt", "differs only in letter case")),
        ]
        for name, arrange, cause in cases:
            with self.subTest(name):
                tp.write(tp.GRIDWELL + "/Daten/Stand.txt", name)
                published = tp.snapshot(tp.drive(tp.DOWNLOAD))
                undo = arrange()
                try:
                    code, output = tp.run_mode("PackGridwell")
                    texts = tp.messages()
                    after = tp.snapshot(tp.drive(tp.DOWNLOAD))
                finally:
                    undo()
                self.assertEqual(code, 1, output)
                self.assertEqual(len(texts), 1, texts)
                self.assertTrue(texts[0].startswith("Fehler bei\n\"N:\\CD_2023\\"), texts)
                for part in cause if isinstance(cause, tuple) else (cause,):
                    self.assertIn(part, texts[0])
                self.assertEqual(after, published)
                self.publish_good()

    def test_kills_at_random_moments_leave_a_consistent_release(self):
        start = time.time()
        self.publish_good()
        duration = time.time() - start
        rng = random.Random(int(os.environ.get("TARN_KILL_SEED", "18")))
        source = tp.drive(tp.GRIDWELL)
        # File times have a resolution of 100 ns.
        times = {os.path.join(d, n): os.stat(os.path.join(d, n)).st_mtime_ns // 100 for d, _, names in os.walk(source)
                 for n in names if n != "Stand.txt"}
        for moment in sorted(rng.uniform(0.3, 1.0) * duration for _ in range(4)):
            with self.subTest(moment=round(moment, 2)):
                tp.write(tp.GRIDWELL + "/Daten/Stand.txt", "killed at %f" % moment)
                fd_path = os.path.join(S["work"], "kill-word.txt")
                with open(fd_path, "wb") as f:
                    f.write(b"PackGridwell")
                process = subprocess.Popen(["wine", tp.win_build(harness.test_bin("run_command_line.exe")),
                                            "T:\\Tarn_Gridwell_2023.exe", tp.win_work(fd_path)],
                                           env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(moment)
                for pid in tree_processes("PackGridwell"):
                    os.kill(pid, signal.SIGKILL)
                process.wait(60)
                # The cabinet makers it started finish on their own.
                for _ in range(300):
                    if not tree_processes("/f", "MakeCab.exe"):
                        break
                    time.sleep(0.1)
                consistent(tp.drive(tp.DOWNLOAD))
                self.publish_good()
                # The rerun removed the killed run's cabinet work folders and
                # put back the times it had touched.
                self.assertEqual([n for n in os.listdir(harness.prefix_temp()) if n.startswith("_Tarn_MakeCab_")], [])
                # The rerun put back the times the killed run had touched.
                self.assertEqual({path: os.stat(path).st_mtime_ns // 100 for path in times}, times)

    def test_verifier_names_a_flipped_byte_and_accepts_the_served_release(self):
        cabinet = tp.drive(tp.DOWNLOAD + "/Tarn_Gridwell_2023_(2).cab")
        served = os.path.join(S["www"], "rel")
        shutil.copytree(tp.drive(tp.DOWNLOAD), served)
        data = bytearray(tp.read(cabinet))
        data[len(data) // 2] ^= 0x40
        with open(cabinet, "wb") as f:
            f.write(data)
        code, output = verify("N:\\CD_2023\\Download")
        self.assertEqual(code, 1, output)
        self.assertIn("Tarn_Gridwell_2023_(2).cab: the record", output)
        self.assertNotIn("Tarn_Gridwell_2023_(1).cab", output)
        code, output = verify(f"{S['nginx'].url}/rel")
        self.assertEqual(code, 0, output)


if __name__ == "__main__":
    unittest.main()
