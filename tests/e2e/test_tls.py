"""Downloads over HTTPS: nginx serves TLS as "localhost" with certificates of
a test authority made for this run and trusted only in the tests' own Wine
prefix. The normal road (a single file, an update) works over it; a
certificate that is self-signed, expired or made out to another host, and a
redirect from https to http, each fail with nothing stored and a line in the
log."""

import os
import re
import unittest

import harness
from harness import fetch, payload, prefix_temp, publish, run_program, winpath

S = harness.STATE
DOWNLOADS = "gridwell/data/2023/Downloads"
UPDATES = "gridwell/data/2023/Updates"


def setUpModule():
    harness.start("tls", tls=True)


def tearDownModule():
    harness.stop()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def log_lines(program):
    """The lines a program of that name left in its log file since the last call."""
    path = os.path.join(prefix_temp(), program + ".log")
    if not os.path.exists(path):
        return []
    text = read(path).decode("utf-8", "replace")
    os.remove(path)
    return text.splitlines()


class OverTls(unittest.TestCase):
    def setUp(self):
        self.folder = harness.scratch("target-" + self._testMethodName)
        S["nginx"].clear_log()
        log_lines("Tarn_Gridwell_2023")
        log_lines("http_fetch")

    def single_file(self, url):
        code, output = run_program(f'DownloadFile="{url}" ToFolder="{winpath(self.folder)}"')
        self.assertEqual(code, 0, output)

    def test_single_file_and_update_arrive_whole(self):
        data = payload(300_000, seed=71)
        publish(S["www"], f"{DOWNLOADS}/Secure.cab", data)
        self.single_file(f"{S['tls']['good']}/{DOWNLOADS}/Secure.cab")
        self.assertEqual(sorted(os.listdir(self.folder)), ["Secure.cab", "Secure.fileinfo.txt"])
        self.assertEqual(read(os.path.join(self.folder, "Secure.cab")), data)

        update = payload(90_000, seed=72)
        publish(S["www"], f"{UPDATES}/AutoUpdateInfo.csv", b"product;updateURL\r\nTarn Gridwell;Gridwell_Update_3.exe\r\n",
                record=None)
        publish(S["www"], f"{UPDATES}/Gridwell_Update_3.exe", update)
        publish(S["www"], f"{UPDATES}/Gridwell_Update_3.txt", b"Neu\r\n", record=None)
        updates = harness.scratch("updates")
        code, output = run_program(f'DownloadGridwellUpdate="{S["tls"]["good"]}/{UPDATES}/AutoUpdateInfo.csv" '
                                   f'ToFolder="{winpath(updates)}"')
        self.assertEqual(code, 0, output)
        self.assertEqual(sorted(os.listdir(updates)),
                         ["Gridwell_Update_3.exe", "Gridwell_Update_3.fileinfo.txt", "Gridwell_Update_3.txt"])
        self.assertEqual(read(os.path.join(updates, "Gridwell_Update_3.exe")), update)
        # Everything went over TLS: the plain server saw nothing.
        self.assertEqual(S["nginx"].requests(), [])

    def test_untrusted_certificates_fail_and_are_traced(self):
        data = payload(50_000, seed=73)
        publish(S["www"], f"{DOWNLOADS}/Refused.cab", data)
        for server in ("self-signed", "expired", "other-host"):
            with self.subTest(server):
                url = f"{S['tls'][server]}/{DOWNLOADS}/Refused.cab"
                self.single_file(url)
                self.assertEqual(os.listdir(self.folder), [], "no file and no record")
                lines = log_lines("Tarn_Gridwell_2023")
                self.assertTrue(any(url.replace(".cab", ".fileinfo.txt") in line and "certificate" in line
                                    for line in lines), lines)
                # One attempt: failed, and worth another pass later.
                target = os.path.join(self.folder, "Refused.cab")
                r = fetch("once", url, winpath(target), "--retry-flag", "-1")
                self.assertEqual((r["result"], r["retry"]), ("0", "1"), r["output"])
                self.assertFalse(os.path.exists(target))
                self.assertTrue(any(re.search(rf"{re.escape(url[:-4])}.*certificate.*\(error 120\d\d\)", line)
                                    for line in log_lines("http_fetch")))

    def test_redirect_to_plain_http_is_not_followed(self):
        publish(S["www"], f"{DOWNLOADS}/Downgrade.cab", payload(40_000, seed=74))
        url = f"{S['tls']['good']}/to-plain/{DOWNLOADS}/Downgrade.cab"
        self.single_file(url)
        self.assertEqual(os.listdir(self.folder), [])
        target = os.path.join(self.folder, "Downgrade.cab")
        r = fetch("once", url, winpath(target))
        self.assertNotEqual(r["result"], "1", r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(S["nginx"].requests(), [], "nothing was asked of the plain server")

    def test_plain_base_url_from_a_list_over_tls_is_used_and_traced(self):
        listing = b"[Settings]\r\nTarn_Gridwell_2023=http://mirror/gridwell/data/2024/\r\n"
        publish(S["www"], "Lumara/Tarnix_Software.txt", listing, record=None)
        out = harness.scratch("list")
        code, output = harness.run_wine([harness.test_bin("http_fetch.exe"), "productlist", S["tls"]["good"],
                                         winpath(os.path.join(out, "Desktop", "Tarnix_Software.txt")),
                                         winpath(os.path.join(out, "Tarnix_Software.txt"))])
        self.assertEqual(code, 0, output)
        self.assertIn("baseUrl=http://mirror/gridwell/data/2024", output)
        self.assertTrue(any("http://mirror/gridwell/data/2024" in line and "Tarnix_Software.txt" in line
                            for line in log_lines("http_fetch")))


class NoOverride(unittest.TestCase):
    def test_no_source_switches_certificate_checks_off(self):
        names = ("IGNORE_CERT", "SECURITY_FLAG_IGNORE", "INTERNET_OPTION_SECURITY_FLAGS", "IGNORE_REDIRECT_TO")
        source = harness.CONFIG["source_dir"]
        found = []
        for top in ("app", "config", "packing", "support", "transfer", "tools", "bench", "tests"):
            for folder, _, files in os.walk(os.path.join(source, top)):
                for name in files:
                    if name.endswith((".cpp", ".h", ".c")):
                        text = read(os.path.join(folder, name)).decode("utf-8", "replace")
                        found += [f"{name}: {n}" for n in names if n in text]
        self.assertEqual(found, [])


if __name__ == "__main__":
    unittest.main()
