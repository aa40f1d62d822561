"""The program runs elevated from a download folder: it loads nothing that is
planted beside it and follows no planted link.

Libraries: the program is copied into a download folder together with a
recording library under each name of a system library it uses; Wine is told
to prefer such files over its own libraries, as Windows does for every
library that is not one of its known ones. A download through the program
must work and no planted library may leave its record.

Links: folder links are planted (as host symbolic links, which Wine shows as
links) into trees that the program removes; what they point to must stay.

Saves: a settings file is saved while the process may write no more than
64 KiB to any file (a full disk); the old file must stay whole."""

import os
import resource
import signal
import shutil
import subprocess
import time
import unittest

import harness
from harness import payload, publish, run_program, winpath

S = harness.STATE
# Not "version": Wine's own user32 and setupapi import it (Windows' do not),
# so under Wine a planted copy is taken before the program's first line runs.
PLANTED = ("wininet", "cabinet", "gdiplus", "comctl32")


def setUpModule():
    harness.start("loader")


def tearDownModule():
    harness.stop()


class PlantedLibraries(unittest.TestCase):
    def test_download_mode_loads_nothing_from_the_program_folder(self):
        downloads = harness.scratch("Downloads")
        program = os.path.join(downloads, "Tarn_Gridwell_2023.exe")
        shutil.copy(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), program)
        for name in PLANTED:
            shutil.copy(harness.test_bin(os.path.join("doubles", "planted_library.dll")),
                        os.path.join(downloads, name + ".dll"))
        data = payload(50_000, seed=81)
        publish(S["www"], "planted/Data.cab", data)
        target = harness.scratch("target")

        code, output = run_program(f'DownloadFile="{S["nginx"].url}/planted/Data.cab" ToFolder="{winpath(target)}"',
                                   program=program, timeout=120, dll_overrides=",".join(PLANTED) + "=n,b")

        self.assertEqual(code, 0, output)
        records = sorted(name for name in os.listdir(downloads) if name.lower().endswith(".loaded"))
        self.assertEqual(records, [], "planted libraries were loaded")
        with open(os.path.join(target, "Data.cab"), "rb") as f:
            self.assertEqual(f.read(), data)



def host_path(windows_path):
    """The host path of a Windows path of the test prefix (drive letter first)."""
    drive, rest = windows_path[:2], windows_path[2:]
    devices = os.path.join(harness.wine_env()["WINEPREFIX"], "dosdevices", drive.lower())
    return os.path.realpath(devices) + rest.replace("\\", "/")


class PlantedLinks(unittest.TestCase):
    def setUp(self):
        self.outside = harness.scratch("outside")
        self.kept = os.path.join(self.outside, "kept.txt")
        with open(self.kept, "wb") as f:
            f.write(b"must stay")

    def test_empty_folder_removes_links_never_their_targets(self):
        tree = harness.scratch("tree")
        os.makedirs(os.path.join(tree, "sub"))
        open(os.path.join(tree, "sub", "file.txt"), "wb").close()
        os.symlink(self.outside, os.path.join(tree, "sub", "link"))

        code, output = harness.run_wine([harness.test_bin("file_ops.exe"), "empty", winpath(tree)], 60)

        self.assertEqual(code, 0, output)
        self.assertTrue(os.path.exists(self.kept), output)
        self.assertFalse(os.path.exists(os.path.join(tree, "sub", "file.txt")), output)

    def test_temporary_folder_guard_removes_links_never_their_targets(self):
        path_file = os.path.join(S["work"], "guard-folder.txt")
        guard = subprocess.Popen(["wine", harness.test_bin("file_ops.exe"), "guard", winpath(path_file)],
                                 env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        folder = None
        for _ in range(600):
            if os.path.exists(path_file) and os.path.getsize(path_file) > 0:
                with open(path_file, "rb") as f:
                    folder = host_path(f.read().decode("utf-16-le"))
                break
            time.sleep(0.1)
        self.assertIsNotNone(folder, "the guard made no folder")
        self.addCleanup(shutil.rmtree, folder, True)
        os.symlink(self.outside, os.path.join(folder, "link"))
        open(os.path.join(folder, "go"), "wb").close()

        self.assertEqual(guard.wait(60), 0)
        self.assertTrue(os.path.exists(self.kept))
        self.assertFalse(os.path.exists(os.path.join(folder, "go")))
        if os.path.islink(os.path.join(folder, "link")):
            os.unlink(os.path.join(folder, "link"))



class FullDisk(unittest.TestCase):
    def test_a_failed_save_leaves_the_old_file_whole(self):
        folder = harness.scratch("full-disk")
        settings = os.path.join(folder, "status.txt")
        old = b"[S]\r\nk=old\r\n[T]\r\nkept=1\r\n"
        with open(settings, "wb") as f:
            f.write(old)

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))

        with open(os.path.join(folder, "output.txt"), "w+b") as out:
            subprocess.run(["wine", harness.test_bin("file_ops.exe"), "save", winpath(settings), "200000"],
                           stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=harness.wine_env(),
                           timeout=120, preexec_fn=limit_file_size)
            out.seek(0)
            output = out.read().decode("utf-8", "replace")
        self.assertIn("result=0", output)
        with open(settings, "rb") as f:
            self.assertEqual(f.read(), old)
        self.assertEqual(sorted(os.listdir(folder)), ["output.txt", "status.txt"], "no new file is left behind")


if __name__ == "__main__":
    unittest.main()
