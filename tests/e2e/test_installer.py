"""The installer road of the real program: the dialog's worker fetches the
download list and the packages from a real server, unpacks them into the
installation data folder and starts the product's Setup.exe (a copy of
tests/helpers/record_start.exe, which records each start). nginx serves the
normal road, tools/devserver the faults, each in a Wine prefix of its own.
Message boxes are answered by tests/helpers/answer_boxes.exe in the same
prefix."""

import os
import pwd
import shutil
import signal
import subprocess
import time
import unittest

import harness
from harness import Squid, publish, run_program, test_bin

S = harness.STATE
BASE = "gridwell/data/2023"


def setUpModule():
    harness.start("installer")


def tearDownModule():
    harness.stop()


def drive_c():
    return os.path.join(harness.wine_env()["WINEPREFIX"], "drive_c")


def user_folder(*parts):
    return os.path.join(drive_c(), "users", pwd.getpwuid(os.getuid()).pw_name, *parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree_files(root):
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = read(path)
    return found


def starts(record):
    return read(record).decode("utf-8").split("end\n")[:-1] if os.path.exists(record) else []


class InstallerCase(unittest.TestCase):
    product = "Tarn Gridwell 2023"
    caption = "Tarn Gridwell 2023 Installationsstarter"
    prefix = None  # the name of the Wine prefix the class runs in

    @classmethod
    def setUpClass(cls):
        harness.use_prefix(cls.prefix)

    def setUp(self):
        self.data = os.path.join(drive_c(), "Tarn_InstallData", self.product)
        self.status = self.data + " DownloadStatus.txt"
        self.temp = user_folder("Temp")
        self.starter = os.path.join(self.temp, "TarnInstallStarter.txt")
        for path in (self.data,):
            shutil.rmtree(path, ignore_errors=True)
        for path in (self.status, self.starter):
            if os.path.exists(path):
                os.remove(path)
        os.makedirs(user_folder("Desktop"), exist_ok=True)
        self.product_list = user_folder("Desktop", "Tarnix_Software.txt")
        self.addCleanup(lambda: os.path.exists(self.product_list) and os.remove(self.product_list))

    # ------------------------------------------------------------ helpers

    def point_at(self, server, root, keys=("Tarn_Gridwell_2023",), ready="True"):
        lines = ["[Settings]"] + [f"{key}={server.url}/{root}/{BASE}" for key in keys]
        lines += ["[Ready]"] + [f"{key}={ready}" for key in keys]
        with open(self.product_list, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("ascii"))
        self.downloads = os.path.join(S["www"], root, *BASE.split("/"), "Downloads")
        self.url_path = f"/{root}/{BASE}/Downloads"

    def make_product(self, root, packages=2, extra_lines=(), bulk=0, big=0):
        """A product tree of a few folders with a Setup.exe, packed into
        `packages` cabinets with gcab, their records and the download list.
        `bulk` small files lead the last cabinet, so that it unpacks slowly;
        a file of `big` random bytes makes it large (then nothing is
        compressed)."""
        tree = os.path.join(S["work"], "product-" + root)
        shutil.rmtree(tree, ignore_errors=True)
        files = {"Setup.exe": read(test_bin("record_start.exe")), "Autorun.inf": b"[autorun]\r\n"}
        for i in range(12):
            files[f"Daten/Teil {i % 3}/datei_{i}.bin"] = harness.payload(1000 + 7919 * i, seed=i)
        files["Hilfe/liesmich.txt"] = "Grüße aus dem Installationsordner\r\n".encode("cp1252")
        if big:
            files["Daten/gross.bin"] = harness.payload(big, seed=99)
        self.bulk = [f"Masse/{i // 500}/teil_{i:04}.txt" for i in range(bulk)]
        for i, name in enumerate(self.bulk):
            files[name] = b"%d\r\n" % i
        if big:
            files["Gross.bin"] = harness.payload(big, seed=99)
            self.bulk.append("Gross.bin")
        for relative, data in files.items():
            path = os.path.join(tree, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        names = sorted(set(files) - set(self.bulk))
        groups = [names[i::packages] for i in range(packages)]
        groups[-1] = self.bulk + groups[-1]
        lines = []
        os.makedirs(self.downloads, exist_ok=True)
        for n, group in enumerate(groups, 1):
            name = f"Tarn_Gridwell_2023_({n}).cab"
            cabinet = os.path.join(self.downloads, name)
            subprocess.run(["gcab", "-c"] + ([] if big else ["-z"]) + [cabinet] + group, cwd=tree, check=True)
            publish(S["www"], os.path.relpath(cabinet, S["www"]), read(cabinet))
            lines.append(name)
        publish(S["www"], os.path.relpath(os.path.join(self.downloads, "SetupUpdater_2023.cab"), S["www"]),
                b"MSCF updater stand-in")
        lines += list(extra_lines) + ["SetupUpdater_2023.cab", ""]
        with open(os.path.join(self.downloads, "Tarn_Gridwell_2023_Download_List.txt"), "wb") as f:
            f.write("\r\n".join(lines).encode("ascii"))
        self.packages = lines[:packages]
        return tree

    def run_installer(self, program=None, box=None, code=0, command_line="", login=None):
        """Runs the program's default mode with `command_line`, expecting
        the exit `code`; with `box` (a caption) answers the message box that
        should appear and returns its text. With `login` ((user, password),
        or ("", "") to cancel) answers the one login dialog that should
        appear."""
        answer = None
        if login:
            caption = os.path.join(S["work"], "login.txt")
            asked = subprocess.Popen(["wine", test_bin("answer_boxes.exe"), harness.winpath(caption), "--login",
                                      login[0], login[1], "240"],
                                     env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            self.addCleanup(lambda: asked.poll() is None and asked.kill())
        if box:
            out = os.path.join(S["work"], "box.txt")
            if os.path.exists(out):
                os.remove(out)
            answer = subprocess.Popen(["wine", test_bin("answer_boxes.exe"), harness.winpath(out), "--first", box,
                                       "240"],
                                      env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        exit_code, output = run_program(command_line, program=program, timeout=400)
        self.assertEqual(exit_code, code, output)
        if login:
            self.assertEqual(asked.wait(60), 0, "no login dialog")
        if answer is None:
            return None
        self.assertEqual(answer.wait(60), 0, "no message box " + box)
        return read(out).decode("utf-8")

    def status_text(self):
        # The program replaces the file whole: while it runs, the name may be
        # gone for a moment between the old file and the new one.
        for _ in range(50):
            try:
                return read(self.status).decode("cp1252")
            except FileNotFoundError:
                time.sleep(0.02)
        return read(self.status).decode("cp1252")



class NormalRoad(InstallerCase):
    prefix = "installer-nginx"

    def test_fresh_install_rerun_and_refetch(self):
        nginx = S["nginx"]
        self.point_at(nginx, "n")
        devices = ["LPT1.cab", "com1", "Con.cab", "CONIN$", "nul .txt", "Tarn.cab.", "Tarn.cab "]
        tree = self.make_product("n", extra_lines=["../../evil.cab", "C:evil.cab", "abc"] + devices)
        nginx.clear_log()
        self.run_installer()

        landed = tree_files(self.data)
        self.assertEqual(landed.pop("SetupUpdater_2023.cab"), b"MSCF updater stand-in")
        landed.pop("SetupUpdater_2023.fileinfo.txt", None)
        landed.pop("Setup.started.txt")
        self.assertEqual(landed, tree_files(tree))
        record = os.path.join(self.data, "Setup.started.txt")
        self.assertEqual(len(starts(record)), 1)
        self.assertIn("show=1", starts(record)[0])
        base = f"{nginx.url}/n/{BASE}/Downloads/"
        status = self.status_text()
        for name in self.packages:
            self.assertIn(f"{base}{name}=True", status)
        self.assertIn(f"{base}SetupUpdater_2023.cab=False", status)
        self.assertNotIn("evil", status)
        self.assertNotIn(f"{base}abc=", status)
        self.assertIn(b"[Setup]\r\nSetupStarter=Tarn_Gridwell_2023\r\n", read(self.starter))
        self.assertFalse(any("evil" in path for _, path, _ in nginx.requests()))
        requested = {path.rsplit("/", 1)[-1] for _, path, _ in nginx.requests()}
        for name in devices:
            self.assertNotIn(name, requested)
            self.assertNotIn(f"{base}{name}=", status)
        for name in self.packages:
            self.assertEqual(nginx.count(f"{self.url_path}/{name}"), 1)

        # A rerun fetches no package again; a deleted and a changed copy are.
        nginx.clear_log()
        self.run_installer()
        for name in self.packages:
            self.assertEqual(nginx.count(f"{self.url_path}/{name}"), 0)
        os.remove(os.path.join(self.temp, self.packages[0]))
        with open(os.path.join(self.temp, self.packages[1]), "r+b") as f:
            f.write(b"earlier release")
        nginx.clear_log()
        self.run_installer()
        for name in self.packages:
            self.assertEqual(nginx.count(f"{self.url_path}/{name}"), 1)
        self.assertEqual(len(starts(record)), 3)
        self.assertFalse(os.path.exists(os.path.join(drive_c(), "evil.cab")))

        # The setup an earlier run started still runs: said, not started twice.
        setup = subprocess.Popen(["wine", os.path.join(self.data, "Setup.exe"), "/sleep=120000"],
                                 env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        for _ in range(300):
            if len(starts(record)) == 4:
                break
            time.sleep(0.1)
        self.addCleanup(setup.wait, 30)
        self.addCleanup(harness.run_wine, ["taskkill", "/f", "/im", "Setup.exe"])
        self.assertIn("läuft bereits", self.run_installer(box="Tarnwerk AG", code=1618))
        self.assertEqual(len(starts(record)), 4)

    def test_ready_product_starts_setup_without_dialog(self):
        nginx = S["nginx"]
        self.point_at(nginx, "r")
        publish(S["www"], f"r/{BASE}/Downloads/SetupUpdater_2023.cab", b"MSCF fresh updater")
        programs = os.path.join(S["work"], "ready")
        product = os.path.join(programs, self.product)
        os.makedirs(product, exist_ok=True)
        program = os.path.join(programs, "Tarn_Gridwell_2023.exe")
        shutil.copy(os.path.join(CONFIG_BUILD(), "Tarn_Gridwell_2023.exe"), program)
        for name in ("Setup.exe", "Setup_W32.exe", "Setup_x64.exe"):
            shutil.copy(test_bin("record_start.exe"), os.path.join(product, name))
        for name, data in (("Autorun.inf", b"[autorun]\r\n"), ("SetupUpdater_2023.cab", b"MSCF old")):
            with open(os.path.join(product, name), "wb") as f:
                f.write(data)
        self.run_installer(program=program)
        record = starts(os.path.join(product, "Setup.started.txt"))
        self.assertEqual(len(record), 1)
        self.assertIn("show=1", record[0])
        self.assertEqual(read(os.path.join(product, "SetupUpdater_2023.cab")), b"MSCF fresh updater")
        self.assertFalse(os.path.exists(self.status))


class Faults(InstallerCase):
    prefix = "installer-dev"

    def test_checksum_failure_then_offline_rerun_start_nothing(self):
        dev = S["dev"]
        self.point_at(dev, "f")
        self.make_product("f")
        bad = self.packages[1]
        publish(S["www"], f"f/{BASE}/Downloads/{bad}", read(os.path.join(self.downloads, bad)), crc=12345)
        dev.reset()
        log = os.path.join(self.temp, "Tarn_Gridwell_2023.log")
        if os.path.exists(log):
            os.remove(log)
        text = self.run_installer(box="Tarnwerk AG", code=1603)
        self.assertIn("nicht vollständig", text)
        # The reason and the log file, each on a line of its own.
        self.assertRegex(text, r"\n\nGrund: [^\n]+\nProtokoll: C:\\users\\[^\n]+\\Temp\\Tarn_Gridwell_2023\.log$")
        # Three damaged bodies, then the run ends at once, naming the package.
        gets = dev.gets(f"{self.url_path}/{bad}")
        self.assertEqual(len(gets), 3)
        box_seen = os.path.getmtime(os.path.join(S["work"], "box.txt"))
        self.assertLess(box_seen - max(g["ended"] for g in gets), 10)
        self.assertIn(f"{bad} failed its record in every fetch", read(log).decode("utf-8", "replace"))
        self.assertFalse(os.path.exists(os.path.join(self.data, "Setup.started.txt")))
        self.assertFalse(os.path.exists(self.starter))
        self.assertIn(f"/Downloads/{bad}=False", self.status_text())

        # Offline: the list cannot be fetched; the update downloads are still
        # tried, no package is, nothing is started. "/passive" shows no box:
        # the warning goes to the log, and so does the log's own copy.
        dev.reset()
        dev.rules([{"path": "*", "fault": "error-page"}])
        copy = os.path.join(S["work"], "passive.log")
        self.run_installer(code=1603, command_line=f'/PASSIVE /log "{harness.winpath(copy)}"')
        paths = [e["path"] for e in dev.log()]
        self.assertEqual(paths[0], f"{self.url_path}/Tarn_Gridwell_2023_Download_List.txt")
        self.assertIn(f"{self.url_path}/SetupUpdater_2023.fileinfo.txt", paths)
        self.assertFalse(any(p.endswith(".cab") and "Tarn_Gridwell" in p for p in paths))
        self.assertFalse(os.path.exists(os.path.join(self.data, "Setup.started.txt")))
        log = read(copy).decode("utf-8")
        self.assertIn("message not shown (unattended run): Tarnwerk AG: Der Download konnte nicht", log)
        self.assertRegex(log, r"Start: version [^\n]+ mode installer, command line \"/PASSIVE /log ")
        self.assertRegex(log, r"End: mode installer, incomplete \([a-z-]+\), nothing started, exit code 1603")
        # The update children write their own start and end lines.
        self.assertRegex(log, r"Start: version [^\n]+ mode DownloadFile, command line \"DownloadFile=")
        dev.reset()

    def test_large_package_over_a_link_that_resets_every_quarter(self):
        dev = S["dev"]
        self.point_at(dev, "q")
        tree = self.make_product("q", packages=1, big=64 * 1024 * 1024)
        package = f"{self.url_path}/{self.packages[0]}"
        record = package.replace(".cab", ".fileinfo.txt")
        size = os.path.getsize(os.path.join(self.downloads, self.packages[0]))
        dev.reset()
        # The record is answered with 503 twice first: the body waits for it.
        dev.rules([{"path": package, "fault": "reset-every"},
                   {"path": record, "fault": "error-page", "status": 503, "times": 2}])
        self.run_installer()
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
        log = [e for e in dev.log() if e["method"] == "GET" and e["path"] in (record, package)]
        self.assertEqual([e["path"] for e in log[:4]], [record] * 3 + [package])
        gets = [e for e in log if e["path"] == package]
        self.assertLessEqual(sum(g["sent"] for g in gets), 1.15 * size)
        self.assertEqual([g["status"] for g in gets[1:]], [206] * (len(gets) - 1))
        self.assertFalse([n for n in os.listdir(self.temp) if ".partial" in n])

    def test_full_volumes_name_the_cause_keep_nothing_half_and_a_rerun_completes(self):
        dev = S["dev"]
        self.point_at(dev, "v")
        tree = self.make_product("v", big=3 * 1024 * 1024)
        record = os.path.join(self.data, "Setup.started.txt")
        os.makedirs(self.data, exist_ok=True)
        cases = [
            # (name, the folder put on a volume with 1 MiB free)
            ("packages do not fit the temporary folder", self.temp),
            ("files do not fit the installation folder", os.path.dirname(self.data)),
        ]
        for n, (name, folder) in enumerate(cases):
            with self.subTest(name):
                copy = os.path.join(S["work"], f"full-{n}.log")
                for path in [copy] + [os.path.join(self.temp, p) for p in os.listdir(self.temp) if
                                      p.startswith("Tarn_Gridwell_2023_(")]:
                    if os.path.exists(path):
                        os.remove(path)
                dev.reset()
                undo = harness.small_volume(folder, 1 << 20)
                try:
                    text = self.run_installer(box="Tarnwerk AG", code=1603,
                                              command_line=f'/log "{harness.winpath(copy)}"')
                    packages = {n: read(os.path.join(self.temp, n)) for n in self.packages
                                if os.path.exists(os.path.join(self.temp, n))}
                    landed = tree_files(self.data)
                    for updater in ("SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
                        landed.pop(updater, None)
                finally:
                    undo()
                self.assertIn("Grund: Der Datenträger ist voll.", text)
                log = read(copy).decode("utf-8")
                self.assertRegex(log, r"\\(Temp|Tarn Gridwell 2023)\\[^\n]+\(error 112\)")
                self.assertRegex(log, r"End: mode installer, incomplete \(disk-full\), nothing started, exit code 1603")
                # What stands under a package's or a file's own name is whole.
                for package, data in packages.items():
                    self.assertEqual(data, read(os.path.join(self.downloads, package)), package)
                originals = tree_files(tree)
                for relative, data in landed.items():
                    self.assertEqual(data, originals.get(relative), relative)
                self.assertEqual(starts(record), [])

        # With room again, the same start completes.
        self.run_installer()
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
        self.assertEqual(len(starts(record)), 1)

    def test_product_rules_not_ready_generic_and_update_downloads(self):
        dev = S["dev"]
        programs = os.path.join(S["work"], "programs")
        os.makedirs(programs, exist_ok=True)
        exe = os.path.join(CONFIG_BUILD(), "Tarn_Gridwell_2023.exe")
        cases = [
            # program name, product folder, paths the update downloads ask for
            ("Tarn_Corvin_2023_App.exe", "Tarn Corvin 2023",
             ["AutoUpdateInfo.csv", "AutoUpdateInfo.fileinfo.txt", "SetupUpdater_2023.cab",
              "SetupUpdater_2023.fileinfo.txt"]),
            ("Tarn_Videotrainings_2023.exe", "Tarn Revit Videotrainings 2023",
             ["SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"]),
        ]
        keys = ["Tarn_Corvin_2023_App", "Tarn_Videotrainings_2023"]
        self.point_at(dev, "p", keys=keys)
        self.make_product("p", packages=1)
        for list_name in ("Tarn_Corvin_2023_App_Download_List.txt", "Tarn_Revit_VTs_2023_Download_List.txt"):
            shutil.copy(os.path.join(self.downloads, "Tarn_Gridwell_2023_Download_List.txt"),
                        os.path.join(self.downloads, list_name))
        for name, folder, asked in cases:
            with self.subTest(name):
                program = os.path.join(programs, name)
                shutil.copy(exe, program)
                data = os.path.join(drive_c(), "Tarn_InstallData", folder)
                shutil.rmtree(data, ignore_errors=True)
                dev.reset()
                self.run_installer(program=program)
                requested = {os.path.basename(e["path"]) for e in dev.log()
                             if "Updates" in e["path"] or "SetupUpdater" in e["path"] or "RODO" in e["path"]}
                self.assertEqual(sorted(requested), asked)
                self.assertEqual(len(starts(os.path.join(data, "Setup.started.txt"))), 1)

        # The generic profile installs nothing; a product that is not ready
        # shows the refusal and writes nothing.
        generic = os.path.join(programs, "Tarn_Software_2023.exe")
        shutil.copy(exe, generic)
        dev.reset()
        self.run_installer(program=generic, code=1603)
        self.assertEqual(dev.log(), [])
        self.point_at(dev, "p", ready="False")
        text = self.run_installer(box="Tarnwerk AG", code=1603)
        self.assertIn("noch nicht möglich", text)
        self.assertEqual(dev.log(), [])
        self.assertFalse(os.path.exists(self.status))


class Unattended(InstallerCase):
    """What users and deployment tools see: a moving bar, a second start,
    "/quiet", "/log" and "/?"."""
    prefix = "installer-dev"

    def test_bar_moves_second_start_quiet_log_and_help(self):
        dev = S["dev"]
        self.point_at(dev, "u")
        self.make_product("u", packages=1, big=2 * 1024 * 1024)
        package = f"{self.url_path}/{self.packages[0]}"
        dev.reset()
        # About 2 MiB in 12 s.
        dev.rules([{"path": package, "fault": "trickle", "piece": 16384, "interval": 0.09}])
        positions = os.path.join(S["work"], "positions.txt")
        sampler = subprocess.Popen(["wine", test_bin("answer_boxes.exe"), harness.winpath(positions), "--progress",
                                    self.caption, "120"], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        first = subprocess.Popen(["wine", os.path.join(CONFIG_BUILD(), "Tarn_Gridwell_2023.exe")],
                                 env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        for _ in range(600):
            if any(e["path"] == package for e in dev.log()):
                break
            time.sleep(0.1)
        # A second start of the same product while the first runs.
        code, output = run_program("/quiet")
        self.assertEqual(code, 1618, output)
        self.assertEqual(first.wait(120), 0)
        self.assertEqual(sampler.wait(30), 0)
        seen = read(positions).decode().split()
        during = [p for p in seen if 0 < int(p) < 990]
        self.assertGreaterEqual(len(set(during)), 10, seen)
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 1)

        # "/quiet": no window at all, the result in the exit code and the log.
        dev.rules([])
        stop = os.path.join(S["work"], "stop-watch")
        record = os.path.join(S["work"], "windows.txt")
        for path in (stop, record):
            if os.path.exists(path):
                os.remove(path)
        watcher = subprocess.Popen(["wine", test_bin("answer_boxes.exe"), harness.winpath(record),
                                    harness.winpath(stop)], env=harness.wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        copy = os.path.join(S["work"], "quiet.log")
        self.run_installer(command_line=f'/Quiet /LOG "{harness.winpath(copy)}"')
        open(stop, "w").close()
        self.assertEqual(watcher.wait(30), 0)
        self.assertFalse(os.path.exists(record) and read(record), "a window was shown")
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 2)
        self.assertRegex(read(copy).decode("utf-8"), r"End: mode installer, setup started, exit code 0")

        # "/?" and its kin list the switches and install nothing.
        for switches in ("/?", "--help"):
            with self.subTest(switches):
                dev.reset()
                text = self.run_installer(box="Tarnwerk AG", command_line=switches)
                self.assertIn("/quiet", text)
                self.assertIn("1618", text)
                self.assertEqual(dev.log(), [])
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 2)


class HostileLists(InstallerCase):
    """A download list that cannot be trusted is refused as a whole with the
    warning: nothing is fetched, marked or started."""
    prefix = "installer-nginx"

    def test_refused_lists(self):
        nginx = S["nginx"]
        self.point_at(nginx, "h")
        self.make_product("h")
        good = "\r\n".join(self.packages + ["SetupUpdater_2023.cab", ""])
        cases = {
            "cut by a zero": (self.packages[0] + "\r\n\0" + good).encode("ascii"),
            "UTF-16 without mark": good.encode("utf-16-le"),
            "no package line": b"SetupUpdater_2023.cab\r\nLPT1.cab\r\n\r\n",
            "giant line": b"G" * (2 << 20) + b".cab\r\n" + good.encode("ascii"),
            "line over the path limit": good.encode("ascii") + b"x/" * 200 + b"\r\n",
            "name too long for the temp folder": ("L" * 240 + ".cab\r\n" + good).encode("ascii"),
        }
        listed = os.path.join(self.downloads, "Tarn_Gridwell_2023_Download_List.txt")
        for case, data in cases.items():
            with self.subTest(case):
                with open(listed, "wb") as f:
                    f.write(data)
                if os.path.exists(self.status):
                    os.remove(self.status)
                nginx.clear_log()
                text = self.run_installer(box="Tarnwerk AG", code=1603)
                self.assertIn("nicht vollständig", text)
                self.assertIn("Download-Liste", text)
                self.assertEqual([path.rsplit("/", 1)[-1] for _, path, _ in nginx.requests()],
                                 ["Tarn_Gridwell_2023_Download_List.txt"])
                self.assertLess(os.path.getsize(self.status) if os.path.exists(self.status) else 0, 4096)
                self.assertFalse(os.path.exists(os.path.join(self.data, "Setup.started.txt")))


class ThroughProxy(InstallerCase):
    """The prefix's system proxy is a squid that asks for a Basic login. The
    downloads go through it; its login is asked for once in the dialog."""
    prefix = "installer-proxy"
    settings = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.squid = Squid(S["work"], "kunde", "Geheim 1")
        cls.addClassCleanup(cls.squid.stop)
        for value, kind, data in (("ProxyEnable", "REG_DWORD", "1"),
                                  ("ProxyServer", "REG_SZ", f"127.0.0.1:{cls.squid.port}"),
                                  ("ProxyOverride", "REG_SZ", "")):
            code, output = harness.run_wine(["reg", "add", cls.settings, "/v", value, "/t", kind, "/d", data,
                                             "/f"])
            assert code == 0, output

    def test_login_refused_then_given_once(self):
        nginx = S["nginx"]
        self.point_at(nginx, "p")
        tree = self.make_product("p", packages=3)
        nginx.clear_log()
        log = os.path.join(self.temp, "Tarn_Gridwell_2023.log")
        for path in [log] + [os.path.join(self.temp, name) for name in self.packages]:
            if os.path.exists(path):
                os.remove(path)
        # Cancelled: the run ends incomplete and nothing passed the proxy.
        text = self.run_installer(box="Tarnwerk AG", code=1603, login=("", ""))
        self.assertIn("nicht vollständig", text)
        self.assertIn("Proxy", text)
        self.assertEqual(nginx.requests(), [])
        self.assertEqual({status for status, _, _ in self.squid.log()}, {"TCP_DENIED/407"})
        self.assertNotIn("=True", self.status_text() if os.path.exists(self.status) else "")
        self.assertIn("Basic realm=\"Tarn-Test\"", read(log).decode("utf-8", "replace"))

        # Given: one dialog, and every request after it passes with the login.
        text = self.run_installer(login=("kunde", "Geheim 1"))
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 1)
        passed = [url.rsplit("/", 1)[-1] for status, url, user in self.squid.log() if user == "kunde"]
        for name in self.packages:
            self.assertIn(name, passed)
            self.assertEqual(nginx.count(f"{self.url_path}/{name}"), 1)
        self.assertEqual(read(log).decode("utf-8", "replace").count("answered with the user's login"), 1)


class UnicodeTemp(InstallerCase):
    """A temporary folder whose name no ANSI code page holds (Greek and
    Cyrillic at once): the packages land there and still unpack."""
    prefix = "installer-unicode"
    folder = "Temp Ωmega Юзер"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(os.path.join(drive_c(), cls.folder), exist_ok=True)
        for name in ("TEMP", "TMP"):
            code, output = harness.run_wine(["reg", "add", "HKCU\\Environment", "/v", name, "/d",
                                             "C:\\" + cls.folder, "/f"])
            assert code == 0, output

    def setUp(self):
        super().setUp()
        self.temp = os.path.join(drive_c(), self.folder)

    def test_packages_unpack(self):
        nginx = S["nginx"]
        self.point_at(nginx, "u")
        tree = self.make_product("u", packages=2)
        self.run_installer()
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 1)
        left = sorted(os.listdir(self.temp))
        for name in self.packages + ["Tarn_Gridwell_2023.log"]:
            self.assertIn(name, left)
        self.assertFalse([name for name in left if name.startswith("Tarn_$(")])


def CONFIG_BUILD():
    return harness.CONFIG["build_dir"]


class KillAndResume(InstallerCase):
    """The program killed while a package arrives, while a package is
    unpacked and while it waits for the update downloads, then started
    again, ends with the tree of an uninterrupted run, and no verified
    package is fetched twice. A cancelled dialog ends the program at once
    and cleanly, and the next start completes."""
    prefix = "installer-dev"

    def wait_for(self, condition, seconds=120, step=0.1):
        for _ in range(int(seconds / step)):
            if condition():
                return True
            time.sleep(step)
        return False

    def start(self):
        return subprocess.Popen(["wine", os.path.join(CONFIG_BUILD(), "Tarn_Gridwell_2023.exe")],
                                env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def kill(self, process):
        """Kills the program's Windows process (the wine launcher started it
        as a process of its own): the one of this prefix whose command line is
        the program alone; its update downloads run on."""
        prefix = harness.wine_env()["WINEPREFIX"]
        killed = 0
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    args = [a for a in f.read().split(b"\0") if a]
                with open(f"/proc/{pid}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if (len(args) == 1 and args[0].lower().endswith(b"tarn_gridwell_2023.exe")
                    and b"WINEPREFIX=" + prefix.encode() in environ):
                os.kill(int(pid), signal.SIGKILL)
                killed += 1
        self.assertEqual(killed, 1, "the program's Windows process was not found to kill")
        process.wait(30)

    def section(self, name):
        text = self.status_text()
        return text[text.index(f"[{name}]"):].split("\r\n[")[0]

    def assert_tree_and_single_fetches(self, tree):
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
        self.assertEqual(len(starts(os.path.join(self.data, "Setup.started.txt"))), 1)
        for name in self.packages:
            complete = [e for e in S["dev"].gets(f"{self.url_path}/{name}") if e["complete"]]
            self.assertEqual(len(complete), 1, name)

    def test_killed_three_times_then_completed(self):
        dev = S["dev"]
        self.point_at(dev, "k")
        tree = self.make_product("k", packages=3, bulk=3000)
        second = f"{self.url_path}/{self.packages[1]}"
        updater = f"{self.url_path}/SetupUpdater_2023.fileinfo.txt"
        dev.reset()
        dev.rules([{"path": second, "fault": "trickle", "piece": 1024, "interval": 0.05}])
        process = self.start()
        self.assertTrue(self.wait_for(lambda: any(e["path"] == second for e in dev.log())))
        time.sleep(1)
        self.kill(process)
        self.assertIn(f"{self.packages[0]}=True", self.status_text())
        self.assertIn(f"{self.packages[1]}=False", self.status_text())

        # The last cabinet leads with thousands of small files: the program is
        # killed once the first of them has landed.
        dev.rules([])
        first = os.path.join(self.data, *self.bulk[0].split("/"))
        process = self.start()
        self.assertTrue(self.wait_for(lambda: os.path.exists(first), step=0.01))
        self.kill(process)
        last = self.packages[2]
        self.assertIn(f"{last}=True", self.section("Downloads"))
        self.assertIn(f"{last}=False", self.section("Unpacked"))
        self.assertFalse(os.path.exists(os.path.join(self.data, *self.bulk[-1].split("/"))))

        dev.rules([{"path": updater, "fault": "stall", "seconds": 15}])
        process = self.start()
        self.assertTrue(self.wait_for(
            lambda: os.path.exists(self.status) and self.status_text().count("=True") >= 6))
        time.sleep(1)
        self.kill(process)
        self.assertFalse(os.path.exists(os.path.join(self.data, "Setup.started.txt")))

        dev.rules([])
        self.run_installer()
        self.assert_tree_and_single_fetches(tree)

    def test_killed_mid_package_then_continued_with_a_range(self):
        dev = S["dev"]
        self.point_at(dev, "m")
        tree = self.make_product("m", packages=2, big=8 * 1024 * 1024)
        name = self.packages[1]
        path = f"{self.url_path}/{name}"
        partial = os.path.join(self.temp, name + ".partial")
        for leftover in (partial, os.path.join(self.temp, name)):
            if os.path.exists(leftover):
                os.remove(leftover)
        dev.reset()
        dev.rules([{"path": path, "fault": "trickle", "piece": 65536, "interval": 0.02}])
        process = self.start()
        self.assertTrue(self.wait_for(lambda: os.path.exists(partial) and os.path.getsize(partial) >= 2 << 20))
        self.kill(process)
        kept = os.path.getsize(partial)
        self.assertFalse(os.path.exists(os.path.join(self.temp, name)), "never under the package's name")
        self.assertIn(f"{name}=False", self.status_text())

        dev.rules([])
        self.run_installer()
        self.assert_tree_and_single_fetches(tree)
        gets = dev.gets(path)
        self.assertEqual((gets[-1]["status"], gets[-1]["range"]), (206, f"bytes={kept}-"))
        size = os.path.getsize(os.path.join(self.downloads, name))
        self.assertLessEqual(sum(g["sent"] for g in gets), 1.15 * size)
        self.assertFalse(os.path.exists(partial))
        self.assertFalse(os.path.exists(partial + ".state"))

    def test_cancelled_mid_download_ends_cleanly_then_completes(self):
        dev = S["dev"]
        self.point_at(dev, "c")
        tree = self.make_product("c", packages=2)
        first = f"{self.url_path}/{self.packages[0]}"
        dev.reset()
        dev.rules([{"path": first, "fault": "trickle", "piece": 512, "interval": 0.1}])
        log = os.path.join(self.temp, "Tarn_Gridwell_2023.log")
        if os.path.exists(log):
            os.remove(log)
        output = os.path.join(S["work"], "cancelled.txt")
        with open(output, "wb") as out:
            process = subprocess.Popen(["wine", os.path.join(CONFIG_BUILD(), "Tarn_Gridwell_2023.exe")],
                                       env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.assertTrue(self.wait_for(lambda: any(e["path"] == first for e in dev.log())))
        time.sleep(1)
        # Enter ends the dialog at once, as Escape and the close box do.
        dialog = harness.winpath(os.path.join(S["work"], "dialog.txt"))
        code, _ = harness.run_wine([test_bin("answer_boxes.exe"), dialog, "--first", self.caption, "30"])
        self.assertEqual(code, 0, "no installer dialog")
        # The trickle would take minutes: the program ends without its worker,
        # with 1602 (of which a Linux exit status keeps the low eight bits).
        self.assertEqual(process.wait(30), 1602 % 256)
        text = read(output).decode("utf-8", "replace") + (read(log).decode("utf-8", "replace")
                                                           if os.path.exists(log) else "")
        for sign in ("Unhandled", "exception", "Backtrace", "page fault"):
            self.assertNotIn(sign, text)
        self.assertIn("cancelled while the worker runs", text)
        self.assertIn(f"{self.packages[0]}=False", self.status_text())
        self.assertFalse(os.path.exists(os.path.join(self.data, "Setup.started.txt")))

        dev.rules([])
        self.run_installer()
        landed = tree_files(self.data)
        for name in ("Setup.started.txt", "SetupUpdater_2023.cab", "SetupUpdater_2023.fileinfo.txt"):
            landed.pop(name, None)
        self.assertEqual(landed, tree_files(tree))
