"""The real program's start-up: modes that end by themselves. A desktop copy
of the server product list stands in for the maker's server, which the test
machine cannot reach (without it, start-up would spend all passes of the
product-list download first). The default mode runs under a name of the
generic profile: a real product's installer would try the unreachable server
and end with a warning box, and the installer road has tests of its own."""

import os
import pwd
import re
import shutil
import socket
import subprocess
import threading
import time
import unittest
from datetime import datetime

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
    """Without a desktop copy the product list comes from the maker's server,
    here through a proxy on 127.0.0.1 that takes the connection and never
    answers. The dialog is there within 2 s of the program's own start line
    (Wine's start-up under load does not count), and Enter ends the program
    at once with 1602."""

    INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"

    def set_proxy(self, port):
        for name, kind, value in (("ProxyEnable", "REG_DWORD", "1"), ("ProxyServer", "REG_SZ", f"127.0.0.1:{port}")):
            code, output = harness.run_wine(["reg", "add", self.INTERNET_SETTINGS, "/v", name, "/t", kind, "/d",
                                             value, "/f"])
            self.assertEqual(code, 0, output)
            self.addCleanup(harness.run_wine, ["reg", "delete", self.INTERNET_SETTINGS, "/v", name, "/f"])

    def test_dialog_within_two_seconds_while_the_product_list_hangs(self):
        self.assertFalse(os.path.exists(os.path.join(prefix_desktop(), "Tarnix_Software.txt")))
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        self.addCleanup(silent.close)
        asked, held = [], []

        def take():  # accepts, reads the request, never answers
            try:
                held.append(silent.accept()[0])
                asked.append(held[0].recv(4096))
            except OSError:
                pass
        self.addCleanup(lambda: [connection.close() for connection in held])
        threading.Thread(target=take, daemon=True).start()
        self.set_proxy(silent.getsockname()[1])

        program = os.path.join(S["work"], "Tarn_Gridwell_2023.exe")
        shutil.copy(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), program)
        log = os.path.join(harness.prefix_temp(), "Tarn_Gridwell_2023.log")
        out = os.path.join(S["work"], "dialog.txt")
        for path in (log, out + ".time", out + ".ready"):
            if os.path.exists(path):
                os.remove(path)
        finder = subprocess.Popen(["wine", harness.test_bin("answer_boxes.exe"), harness.winpath(out), "--first",
                                   "Tarn Gridwell 2023 Installationsstarter", "90"], env=harness.wine_env(),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):  # the finder looks before the program starts
            if os.path.exists(out + ".ready"):
                break
            time.sleep(0.1)
        process = subprocess.Popen(["wine", program], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(finder.wait(90), 0, "no installer dialog")
        self.assertEqual(process.wait(30), 1602 % 256)
        stamp = "%Y-%m-%d %H:%M:%S.%f"
        started = re.search(r"^(\S+ \S+) \[[^]]*\] Start: ", open(log, encoding="utf-8").read(), re.M)
        self.assertIsNotNone(started)
        shown = datetime.strptime(open(out + ".time", encoding="utf-8").read(), stamp)
        self.assertLess((shown - datetime.strptime(started.group(1), stamp)).total_seconds(), 2.0)
        self.assertTrue(asked and asked[0].startswith((b"CONNECT ", b"GET ")), "the list was not asked for here")


if __name__ == "__main__":
    unittest.main()
