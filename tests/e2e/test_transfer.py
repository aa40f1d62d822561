"""The download functions against real servers: nginx for the normal road,
tools/devserver for faults. Runs tests/helpers/http_fetch.exe, which calls
HttpGetFileOnce, HttpGetFile or HttpGetFileRetrying and reports the result,
the retry flag and the progress bar's position."""

import os
import unittest

import harness
from harness import CHUNK, fetch, payload, publish, winpath

S = harness.STATE


def setUpModule():
    harness.start("transfer")


def tearDownModule():
    harness.stop()


def read(path):
    with open(path, "rb") as f:
        return f.read()


class NormalRoad(unittest.TestCase):
    """nginx serves the files and their records."""

    def setUp(self):
        self.out = harness.scratch("out-" + self._testMethodName)
        S["nginx"].clear_log()

    def url(self, relative):
        return f"{S['nginx'].url}/{relative}"

    def test_three_chunks_complete_at_once(self):
        data = payload(3 * CHUNK, seed=3)
        publish(S["www"], "gridwell/data/2023/Downloads/Three.cab", data)
        target = os.path.join(self.out, "Three.cab")
        r = fetch("once", self.url("gridwell/data/2023/Downloads/Three.cab"), winpath(target), "--retry-flag", "-1")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(r["retry"], "-1")
        self.assertEqual(read(target), data)
        self.assertEqual(S["nginx"].count("/gridwell/data/2023/Downloads/Three.fileinfo.txt"), 1)
        self.assertEqual(S["nginx"].count("/gridwell/data/2023/Downloads/Three.cab"), 1)

    def test_progress_bar_positions(self):
        big = payload(100_000_000, seed=4)
        publish(S["www"], "p/Big.cab", big, record=harness.record_text(len(big), 0))
        publish(S["www"], "p/Ten.cab", big[:10_000_000], record=harness.record_text(10_000_000, 0))
        publish(S["www"], "p/TenNoRecord.cab", big[:10_000_000], record=None)
        for name, position in (("Big.cab", "991"), ("Ten.cab", "611"), ("TenNoRecord.cab", "189")):
            with self.subTest(name):
                target = os.path.join(self.out, name)
                r = fetch("once", self.url("p/" + name), winpath(target), "--progress")
                self.assertEqual(r["result"], "1", r["output"])
                self.assertEqual(r["position"], position)
                self.assertEqual(os.path.getsize(target), 100_000_000 if name == "Big.cab" else 10_000_000)
                os.remove(target)

    def test_negative_crc_verifies(self):
        seed = next(s for s in range(100, 200) if harness.file_crc(payload(70_000, s)) & 0x80000000)
        data = payload(70_000, seed)
        publish(S["www"], "n/Negative.cab", data)
        self.assertIn(b"CRC=-", read(os.path.join(S["www"], "n", "Negative.fileinfo.txt")))
        target = os.path.join(self.out, "Negative.cab")
        r = fetch("get", self.url("n/Negative.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)

    def test_checksum_mismatch_leaves_no_file_after_last_attempt(self):
        data = payload(50_000, seed=5)
        publish(S["www"], "m/Bad.cab", data, crc=harness.file_crc(data) ^ 1)
        target = os.path.join(self.out, "Bad.cab")
        r = fetch("get", self.url("m/Bad.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "0", r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(S["nginx"].count("/m/Bad.cab"), 3)
        # A single attempt deletes it at once, even over an older copy.
        with open(target, "wb") as f:
            f.write(b"an older download")
        r = fetch("once", self.url("m/Bad.cab"), winpath(target))
        self.assertEqual(r["result"], "0")
        self.assertFalse(os.path.exists(target))

    def test_older_longer_file_is_replaced_whole(self):
        data = payload(40_000, seed=8)
        publish(S["www"], "r/Replace.cab", data)
        target = os.path.join(self.out, "Replace.cab")
        with open(target, "wb") as f:
            f.write(payload(300_000, seed=9))
        r = fetch("once", self.url("r/Replace.cab"), winpath(target))
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)

    def test_zero_crc_verifies_nothing(self):
        data = payload(40_000, seed=6)
        publish(S["www"], "z/NoCheck.cab", data, record=b"[FileInfo]\r\nFileSize=40000\r\nCRC=0\r\n")
        target = os.path.join(self.out, "NoCheck.cab")
        self.assertEqual(fetch("once", self.url("z/NoCheck.cab"), winpath(target))["result"], "1")

    def test_text_files_have_no_record_lookup(self):
        publish(S["www"], "t/List.TXT", b"Tarn_(1).cab\r\n", record=None)
        publish(S["www"], "t.v2/README", b"plain\r\n", record=None)
        r = fetch("once", self.url("t/List.TXT"), winpath(os.path.join(self.out, "List.txt")))
        self.assertEqual(r["result"], "1", r["output"])
        r = fetch("once", self.url("t.v2/README"), winpath(os.path.join(self.out, "README")))
        self.assertEqual(r["result"], "1", r["output"])
        paths = [p for _, p, _ in S["nginx"].requests()]
        self.assertEqual(paths, ["/t/List.TXT", "/t.v2/README"])

    def test_missing_file_is_an_error_page_and_removes_older_copy(self):
        target = os.path.join(self.out, "Gone.cab")
        with open(target, "wb") as f:
            f.write(b"an older download")
        r = fetch("once", self.url("x/Gone.cab"), winpath(target), "--retry-flag", "-1")
        self.assertEqual(r["result"], "-1", r["output"])
        self.assertEqual(r["retry"], "0")
        self.assertFalse(os.path.exists(target))
        r = fetch("retrying", self.url("x/Gone.cab"), winpath(target))
        self.assertEqual(r["result"], "0")
        self.assertEqual(S["nginx"].count("/x/Gone.cab"), 2)  # no second pass

    def test_record_that_cannot_be_stored_here_ends_at_once(self):
        # The record's temporary name ("<stem>_<tick>.fileinfo.txt") is longer
        # than a file name may be, whatever the tick's digits; the file's own
        # name is not.
        name = "R" * 245 + ".cab"
        publish(S["www"], "long/" + name, payload(1000, seed=8), record=None)
        r = fetch("retrying", self.url("long/" + name), winpath(self.out) + "\\")
        self.assertEqual(r["result"], "0", r["output"])
        self.assertLess(float(r["seconds"]), 10)
        self.assertEqual(S["nginx"].requests(), [])
        self.assertEqual(os.listdir(self.out), [])

    def test_destination_forms(self):
        data = payload(1000, seed=7)
        publish(S["www"], "d/Form.cab", data)
        folder = os.path.join(self.out, "new folder")
        r = fetch("once", self.url("d/Form.cab"), winpath(folder) + "\\")
        self.assertEqual(r["destination"], winpath(folder) + "\\Form.cab")
        self.assertEqual(read(os.path.join(folder, "Form.cab")), data)
        r = fetch("once", self.url("d/Form.cab"), winpath(self.out))
        self.assertEqual(r["destination"], winpath(self.out) + "\\Form.cab")


class Faults(unittest.TestCase):
    """tools/devserver misbehaves on request."""

    def setUp(self):
        self.out = harness.scratch("out-" + self._testMethodName)
        S["dev"].reset()

    def url(self, relative, server="dev"):
        return f"{S[server].url}/{relative}"

    def test_stall_ends_the_attempt_and_next_pass_succeeds(self):
        data = payload(200_000, seed=11)
        publish(S["www"], "f/Stall.cab", data)
        S["dev"].rules([{"path": "/f/Stall.cab", "fault": "stall", "after": 40_000, "seconds": 60, "times": 1}])
        target = os.path.join(self.out, "Stall.cab")
        r = fetch("retrying", self.url("f/Stall.cab"), winpath(target), "--fast")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)
        gets = S["dev"].gets("/f/Stall.cab")
        self.assertEqual(gets[0]["fault"], "stall")
        self.assertGreaterEqual(len(gets), 2)

    def test_stall_without_retry_flag_ends_the_attempt_when_the_connection_drops(self):
        # WinInet drops the connection at its receive time-out (the stall
        # deadline); the body then ends short and the next attempt succeeds.
        data = payload(200_000, seed=12)
        publish(S["www"], "f/Stall2.cab", data)
        S["dev"].rules([{"path": "/f/Stall2.cab", "fault": "stall", "after": 40_000, "seconds": 60, "times": 1}])
        target = os.path.join(self.out, "Stall2.cab")
        r = fetch("get", self.url("f/Stall2.cab"), winpath(target), "--fast", "--attempts", "2")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)
        self.assertEqual(len(S["dev"].gets("/f/Stall2.cab")), 2)

    def test_body_cut_short_is_fetched_again(self):
        data = payload(300_000, seed=13)
        publish(S["www"], "f/Cut.cab", data, record=None)  # no checksum: only the length can tell
        S["dev"].rules([{"path": "/f/Cut.cab", "fault": "cut", "after": 100_000, "times": 1}])
        target = os.path.join(self.out, "Cut.cab")
        r = fetch("get", self.url("f/Cut.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)
        gets = S["dev"].gets("/f/Cut.cab")
        self.assertEqual([g["complete"] for g in gets], [False, True])

    def test_body_cut_short_asks_for_another_pass(self):
        data = payload(300_000, seed=14)
        publish(S["www"], "f/Cut2.cab", data, record=None)
        S["dev"].rules([{"path": "/f/Cut2.cab", "fault": "cut", "after": 5_000, "times": 1}])
        target = os.path.join(self.out, "Cut2.cab")
        r = fetch("once", self.url("f/Cut2.cab"), winpath(target), "--retry-flag", "-1")
        self.assertEqual((r["result"], r["retry"]), ("0", "1"), r["output"])
        self.assertFalse(os.path.exists(target))
        r = fetch("retrying", self.url("f/Cut2.cab"), winpath(target), "--fast")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)

    def test_changed_answer_is_verified_afresh(self):
        data = payload(300_000, seed=17)
        publish(S["www"], "f/Changing.cab", data)
        # The first answer is garbled and longer: it fails its checksum, and
        # the second attempt replaces it whole.
        S["dev"].rules([{"path": "/f/Changing.cab", "fault": "garble", "extra": 50_000, "times": 1}])
        target = os.path.join(self.out, "Changing.cab")
        r = fetch("get", self.url("f/Changing.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "1", r["output"])
        self.assertEqual(read(target), data)
        self.assertEqual([g["fault"] for g in S["dev"].gets("/f/Changing.cab")], ["garble", None])

    def test_garbled_answers_leave_no_file(self):
        data = payload(200_000, seed=18)
        publish(S["www"], "f/Garbled.cab", data)
        S["dev"].rules([{"path": "/f/Garbled.cab", "fault": "garble", "every": 100_000}])
        target = os.path.join(self.out, "Garbled.cab")
        r = fetch("get", self.url("f/Garbled.cab"), winpath(target), "--attempts", "2")
        self.assertEqual(r["result"], "0", r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(len(S["dev"].gets("/f/Garbled.cab")), 2)
        # One attempt alone leaves nothing either.
        r = fetch("once", self.url("f/Garbled.cab"), winpath(target))
        self.assertEqual(r["result"], "0", r["output"])
        self.assertFalse(os.path.exists(target))

    def test_small_error_page_with_status_200_is_not_stored(self):
        # Its record is answered with the page too: no record, and not the
        # server's "no record" (404 or 410) either, so a later pass is asked for.
        target = os.path.join(self.out, "Missing.cab")
        r = fetch("once", self.url("f/Missing.cab", "dev200"), winpath(target), "--retry-flag", "-1")
        self.assertEqual((r["result"], r["retry"]), ("0", "1"), r["output"])
        self.assertFalse(os.path.exists(target))
        r = fetch("once", self.url("f/Missing.txt", "dev200"), winpath(target), "--retry-flag", "-1")
        self.assertEqual((r["result"], r["retry"]), ("-1", "0"), r["output"])
        self.assertFalse(os.path.exists(target))

    def test_large_error_page_is_not_stored(self):
        data = payload(30_000, seed=15)
        publish(S["www"], "f/Large.cab", data)
        target = os.path.join(self.out, "Large.cab")
        # With an error status: refused whatever its size.
        S["dev"].rules([{"path": "/f/Large.cab", "fault": "large-error-page", "status": 404, "size": 200_000}])
        r = fetch("get", self.url("f/Large.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "0", r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(len(S["dev"].gets("/f/Large.cab")), 1)
        # With status 200 it cannot be told from a file, but it fails the record's checksum.
        S["dev"].rules([{"path": "/f/Large.cab", "fault": "large-error-page", "status": 200, "size": 200_000}])
        r = fetch("get", self.url("f/Large.cab"), winpath(target), "--attempts", "3")
        self.assertEqual(r["result"], "0", r["output"])
        self.assertFalse(os.path.exists(target))

    def test_empty_body_ends_at_once(self):
        publish(S["www"], "f/Empty.cab", b"", record=None)
        target = os.path.join(self.out, "Empty.cab")
        # No retry flag: a missed end of body would wait out 3,600 stalls.
        r = fetch("once", self.url("f/Empty.cab"), winpath(target), timeout=120)
        self.assertEqual(r["result"], "-1", r["output"])  # an empty file counts as an error page
        self.assertFalse(os.path.exists(target))

    def test_whole_chunks_end_at_once_with_and_without_length(self):
        for k in (1, 2, 64, 65):
            data = payload(k * CHUNK, seed=16 + k)
            publish(S["www"], f"f/K{k}.cab", data)
            for fault in (None, "no-length"):
                with self.subTest(k=k, fault=fault):
                    S["dev"].rules([{"path": f"/f/K{k}.cab", "fault": fault}] if fault else [])
                    target = os.path.join(self.out, f"K{k}.cab")
                    r = fetch("once", self.url(f"f/K{k}.cab"), winpath(target), timeout=120)
                    self.assertEqual(r["result"], "1", r["output"])
                    self.assertEqual(read(target), data)

    def test_cancel_during_transfer_deletes_partial_file(self):
        data = payload(6 * 1024 * 1024, seed=30)
        publish(S["www"], "f/Slow.cab", data)
        S["dev"].rules([{"path": "/f/Slow.cab", "fault": "trickle", "piece": 65536, "interval": 0.02}])
        target = os.path.join(self.out, "Slow.cab")
        r = fetch("retrying", self.url("f/Slow.cab"), winpath(target), "--cancel-at", str(1024 * 1024))
        self.assertEqual((r["result"], r["cancelled"]), ("0", "1"), r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertFalse(os.path.exists(target + ".partial"), "a cancelled body is not kept")
        gets = S["dev"].gets("/f/Slow.cab")
        self.assertLess(gets[0]["sent"], len(data))


class Packages(unittest.TestCase):
    """Installer packages (tarn::FetchPackage): none without its record,
    bodies continued with ranges, a damaged one given up."""

    def setUp(self):
        self.out = harness.scratch("pkg-" + self._testMethodName)
        S["dev"].reset()

    def package(self, name, data, *rules, record="auto"):
        publish(S["www"], f"k/{name}", data, record=record)
        S["dev"].rules(list(rules))
        target = os.path.join(self.out, name)
        r = fetch("package", f"{S['dev'].url}/k/{name}", winpath(target), "--fast")
        return r, target

    def test_record_that_fails_never_lets_the_package_through(self):
        data = payload(100_000, seed=40)
        record = "/k/Rec.fileinfo.txt"
        cases = [  # a fault on the record for its first three requests
            ("503", {"fault": "error-page", "status": 503}),
            ("html with 200", {"fault": "error-page", "status": 200}),
            ("garbage", {"fault": "garble", "every": 1}),
            ("reset", {"fault": "reset"}),
        ]
        for what, fault in cases:
            with self.subTest(what):
                S["dev"].reset()
                r, target = self.package("Rec.cab", data, dict(fault, path=record, times=3))
                self.assertEqual(r["result"], "stored", r["output"])
                self.assertEqual(read(target), data)
                log = [e for e in S["dev"].log() if e["path"] in (record, "/k/Rec.cab")]
                # The body is asked for once, and only after the record came whole.
                self.assertEqual([e["path"] for e in log], [record] * 4 + ["/k/Rec.cab"])
                os.remove(target)

    def test_every_package_needs_a_record_whatever_its_name(self):
        data = payload(30_000, seed=41)
        for name, record, result in (("Liste.txt", None, "refused"), ("Daten", None, "refused"),
                                     ("Daten2", "auto", "stored"), ("Null.cab", b"[FileInfo]\r\nCRC=0\r\n", "refused")):
            with self.subTest(name):
                S["dev"].reset()
                r, target = self.package(name, data, record=record)
                self.assertEqual(r["result"], result, r["output"])
                self.assertEqual(os.path.exists(target), result == "stored")
                self.assertEqual(len(S["dev"].gets(f"/k/{name}")), 1 if result == "stored" else 0)

    def test_resume_over_a_server_that_resets_every_quarter(self):
        data = payload(8 * 1024 * 1024, seed=42)
        r, target = self.package("Reset.cab", data, {"path": "/k/Reset.cab", "fault": "reset-every"})
        self.assertEqual(r["result"], "stored", r["output"])
        self.assertEqual(read(target), data)
        gets = S["dev"].gets("/k/Reset.cab")
        self.assertLessEqual(sum(g["sent"] for g in gets), 1.15 * len(data))
        self.assertLessEqual(len(gets), 6)
        self.assertIsNone(gets[0]["range"])
        for g in gets[1:]:
            self.assertEqual((g["status"], g["range"]), (206, f"bytes={g['start']}-"))
            self.assertEqual(g["if_range"][0], '"')  # the ETag
        self.assertEqual(sorted(os.listdir(self.out)), ["Reset.cab"], "no partial download is left")

    def test_broken_range_answers_start_again_from_zero(self):
        data = payload(4 * 1024 * 1024, seed=43)
        path = "/k/Broken.cab"
        cut = {"path": path, "fault": "reset-every", "times": 1}
        cases = [  # what follows the first answer's reset, and the answers seen
            ("ignores ranges", "ignore-range", [200, 200], [0, 0]),
            ("wrong range", "wrong-range", [200, 206, 200], [0, 0, 0]),
            ("changed ETag", "etag-change", [200, 200], [0, 0]),
        ]
        for what, fault, statuses, starts in cases:
            with self.subTest(what):
                S["dev"].reset()
                r, target = self.package("Broken.cab", data, cut, {"path": path, "fault": fault})
                self.assertEqual(r["result"], "stored", r["output"])
                self.assertEqual(read(target), data)
                gets = S["dev"].gets(path)
                self.assertEqual([g["status"] for g in gets], statuses)
                self.assertEqual([g["start"] for g in gets], starts)
                self.assertIsNotNone(gets[1]["range"], "the second request asked for the rest")
                self.assertEqual(sorted(os.listdir(self.out)), ["Broken.cab"])
                os.remove(target)

    def test_damaged_package_is_given_up_after_three_bodies(self):
        data = payload(200_000, seed=44)
        r, target = self.package("Bad.cab", data, {"path": "/k/Bad.cab", "fault": "garble"})
        self.assertEqual(r["result"], "given up", r["output"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(len(S["dev"].gets("/k/Bad.cab")), 3)
        self.assertEqual(os.listdir(self.out), [])


class ServerProductList(unittest.TestCase):
    """The product list is fetched into the temporary folder, read and
    deleted; a desktop copy is used only when it was there before."""

    LIST = (b"[Settings]\r\nTarn_Gridwell_2023=http://mirror/gridwell/data/2024/\r\n"
            b"[Ready]\r\nTarn_Corvin_2023_App=False\r\nTarn_Gridwell_2023=True\r\n")

    def setUp(self):
        self.out = harness.scratch("list-" + self._testMethodName)
        self.desktop = os.path.join(self.out, "Desktop", "Tarnix_Software.txt")
        self.download = os.path.join(self.out, "Temp", "Tarnix_Software.txt")
        S["nginx"].clear_log()

    def consult(self):
        code, output = harness.run_wine([harness.test_bin("http_fetch.exe"), "productlist", S["nginx"].url,
                                         winpath(self.desktop), winpath(self.download)])
        self.assertEqual(code, 0, output)
        return dict(line.strip().split("=", 1) for line in output.splitlines() if "=" in line)

    def test_downloaded_list_is_read_and_deleted(self):
        publish(S["www"], "Lumara/Tarnix_Software.txt", self.LIST, record=None)
        profile = self.consult()
        self.assertEqual(profile["baseUrl"], "http://mirror/gridwell/data/2024")
        self.assertEqual(profile["productFolder"], "D:\\Tarn Gridwell 2023\\")
        self.assertFalse(os.path.exists(self.download))
        self.assertFalse(os.path.exists(self.desktop), "nothing is ever written onto the desktop")
        self.assertEqual(S["nginx"].count("/Lumara/Tarnix_Software.txt"), 1)

    def test_desktop_copy_that_was_there_wins(self):
        publish(S["www"], "Lumara/Tarnix_Software.txt", self.LIST, record=None)
        os.makedirs(os.path.dirname(self.desktop))
        with open(self.desktop, "wb") as f:
            f.write(b"[Ready]\r\nTarn_Gridwell_2023=false\r\n")
        profile = self.consult()
        self.assertEqual(profile["baseUrl"], "http://builtin/gridwell/data/2023")
        self.assertEqual(profile["productFolder"], "DownloadNotReady")
        self.assertTrue(os.path.exists(self.desktop))
        self.assertEqual(S["nginx"].count("/Lumara/Tarnix_Software.txt"), 0)

    def test_missing_list_keeps_built_in_values(self):
        published = os.path.join(S["www"], "Lumara", "Tarnix_Software.txt")
        if os.path.exists(published):
            os.remove(published)
        profile = self.consult()
        self.assertEqual(profile["baseUrl"], "http://builtin/gridwell/data/2023")
        self.assertEqual(profile["productFolder"], "D:\\Tarn Gridwell 2023\\")
        self.assertFalse(os.path.exists(self.download))


if __name__ == "__main__":
    unittest.main()
