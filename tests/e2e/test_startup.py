"""The real program's start-up: modes that end by themselves. A desktop copy
of the server product list stands in for the maker's server, which the test
machine cannot reach (without it, start-up would spend all passes of the
product-list download first). The default mode runs under a name of the
generic profile: a real product's installer would try the unreachable server
and end with a warning box, and the installer road has tests of its own."""

import os
import pwd
import shutil
import subprocess
import time
import unittest

import harness
from harness import run_program

S = harness.STATE


def setUpModule():
    harness.start("startup")


def tearDownModule():
    harness.stop()


def prefix_desktop():
    return os.path.join(harness.wine_env()["WINEPREFIX"], "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name,
                        "Desktop")


class StartUp(unittest.TestCase):
    def setUp(self):
        os.makedirs(prefix_desktop(), exist_ok=True)
        self.product_list = os.path.join(prefix_desktop(), "Tarnix_Software.txt")
        self.assertFalse(os.path.exists(self.product_list), "a product list left on the test desktop")
        with open(self.product_list, "wb") as f:
            f.write(b"[Settings]\r\n[Ready]\r\n")
        self.addCleanup(os.remove, self.product_list)

    def test_pack_update_ends_at_once(self):
        code, output = run_program("PackUpdate", timeout=60)
        self.assertEqual(code, 0, output)
        self.assertTrue(os.path.exists(self.product_list), "a desktop copy is never deleted")

    def generic_program(self):
        program = os.path.join(S["work"], "Tarn_Sample_2023.exe")
        shutil.copy(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), program)
        return program

    # The generic profile has no download list: the installer ends without
    # starting a setup, which deployment tools read as 1603.
    def test_no_arguments_ends_without_crash(self):
        code, output = run_program("", program=self.generic_program(), timeout=60)
        self.assertEqual(code, 1603, output)

    def test_mode_words_with_blanks_around(self):
        program = self.generic_program()
        # A trailing blank is part of the text and matches no word; leading
        # blanks are skipped with the program name, so " packupdate" is the
        # word and ends at once.
        for command_line, expected in (("PackUpdate ", 1603), (" packupdate", 0)):
            with self.subTest(command_line=command_line):
                code, output = run_program(command_line, program=program, timeout=60)
                self.assertEqual(code, expected, output)


class WindowAtOnce(unittest.TestCase):
    """Without a desktop copy the product list comes from the maker's
    server, which this machine cannot reach: its passes take a minute. The
    dialog is there meanwhile, and Enter ends the program at once with 1602."""

    def test_dialog_open_while_the_product_list_is_fetched(self):
        self.assertFalse(os.path.exists(os.path.join(prefix_desktop(), "Tarnix_Software.txt")))
        program = os.path.join(S["work"], "Tarn_Gridwell_2023.exe")
        shutil.copy(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), program)
        out = os.path.join(S["work"], "dialog.txt")
        begun = time.monotonic()
        process = subprocess.Popen(["wine", program], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        code, _ = harness.run_wine([harness.test_bin("answer_boxes.exe"), harness.winpath(out), "--first",
                                    "Tarn Gridwell 2023 Installationsstarter", "60"])
        shown = time.monotonic() - begun
        self.assertEqual(code, 0, "no installer dialog")
        # Two Wine start-ups under load stand between the start and the look;
        # the fetch behind the dialog would take a minute.
        self.assertLess(shown, 20)
        self.assertEqual(process.wait(30), 1602 % 256)


if __name__ == "__main__":
    unittest.main()
