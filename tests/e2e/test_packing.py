"""The build machines' packing modes, run by the real program under Wine in
a prefix of their own whose drives N:, M:, P:, V:, W:, Z: and H: point into
the test's folder (so nothing of the host is touched), with MakeCab.exe of
tools/makecab on the search path. Cabinets are checked with cabextract and
gcab; message boxes are answered and recorded by answer_boxes.exe."""

import filecmp
import os
import pwd
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import harness

S = harness.STATE
NAME = "packing"  # of the work folder and the prefix; test_publishing uses its own
DRIVES = "nmpvwzh"
GRIDWELL = "n/CD_2023/Tarn Gridwell"
QX_FOLDER = GRIDWELL + "/Tarn Gridwell/Tarn Gridwell 2023"
DOWNLOAD = "n/CD_2023/Download"
STARTERS = ["Tarn_Gridwell_2023.exe", "Tarn_Gridwell_2023_Test.exe", "Tarn_Gridwell_2023_App.exe",
            "Tarn_Gridwell_2023_App_Test.exe"]


def prefix():
    return harness.wine_env()["WINEPREFIX"]


def find_makecab():
    for folder in (("tools", "bin"), ("tests", "bin")):
        path = os.path.join(harness.CONFIG.get("build_dir", ""), *folder, "MakeCab.exe")
        if os.path.exists(path):
            return path
    return None


def setUpModule(name=None):
    """Also the set-up of other modules that pack, with a name of their own
    for the work folder and the prefix."""
    # The module's prefix of its own: its drives, Z: included, are mapped
    # into the test's folder below.
    harness.start(name or NAME)
    desktop = os.path.join(prefix(), "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name, "Desktop")
    os.makedirs(desktop, exist_ok=True)
    # A desktop copy of the server product list stands in for the maker's
    # server: without it every start of a mode first spends all passes of the
    # product-list download on a server the test machine cannot reach.
    with open(os.path.join(desktop, "Tarnix_Software.txt"), "wb") as f:
        f.write(b"[Settings]\r\n[Ready]\r\n")
    S["drives"] = os.path.join(S["work"], "drives")
    devices = os.path.join(prefix(), "dosdevices")
    for letter in DRIVES + "ts":
        link = os.path.join(devices, letter + ":")
        if os.path.lexists(link):
            os.remove(link)
    for letter in DRIVES:
        os.makedirs(os.path.join(S["drives"], letter))
        os.symlink(os.path.join(S["drives"], letter), os.path.join(devices, letter + ":"))
    os.symlink(harness.CONFIG["build_dir"], os.path.join(devices, "t:"))
    os.symlink(S["work"], os.path.join(devices, "s:"))
    makecab = find_makecab()
    S["makecab"] = makecab
    if makecab:
        # The command interpreter finds the cabinet maker on the search path.
        os.environ["WINEPATH"] = win_build(os.path.dirname(makecab))
    os.environ["wwwdir"] = "W:\\WWW"
    S["messages"] = os.path.join(S["work"], "messages.txt")
    S["stop"] = os.path.join(S["work"], "stop-answering")
    start_answering()


def tearDownModule():
    stop_answering()
    harness.stop()
    os.environ.pop("WINEPATH", None)


def start_answering():
    """Message boxes are answered and recorded from now on."""
    if os.path.exists(S["stop"]):
        os.remove(S["stop"])
    S["answerer"] = subprocess.Popen(
        ["wine", win_build(harness.test_bin("answer_boxes.exe")), win_work(S["messages"]), win_work(S["stop"])],
        env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_answering():
    answerer = S.pop("answerer", None)
    if answerer is not None:
        open(S["stop"], "w").close()
        try:
            answerer.wait(20)
        except subprocess.TimeoutExpired:
            answerer.kill()


def win_build(path):
    return "T:" + os.path.relpath(path, harness.CONFIG["build_dir"]).replace("/", "\\").join(["\\", ""])


def win_work(path):
    return "S:\\" + os.path.relpath(path, S["work"]).replace("/", "\\")


def drive(relative):
    """Host path of a path on the mapped drives ("n/CD_2023/...")."""
    return os.path.join(S["drives"], *relative.split("/"))


def write(relative, data):
    path = drive(relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("cp1252"))
    return path


def read(path):
    with open(path, "rb") as f:
        return f.read()


def lines(path):
    return read(path).decode("cp1252").split("\r\n")[:-1]


def messages():
    """The texts of the message boxes answered so far; the record is emptied."""
    time.sleep(0.3)
    if not os.path.exists(S["messages"]):
        return []
    with open(S["messages"], encoding="utf-8") as f:
        texts = [line[5:].rstrip("\n").replace("\\n", "\n").rstrip("\n") for line in f if line.startswith("text=")]
    os.remove(S["messages"])
    return texts


def updater(folder):
    """A real updater cabinet with its record in a download folder ("n/...")."""
    staging = tempfile.mkdtemp(dir=S["work"])
    with open(os.path.join(staging, "Setup.exe"), "wb") as f:
        f.write(harness.payload(3000, 21))
    cabinet = drive(folder + "/SetupUpdater_2023.cab")
    gcab(cabinet, staging, ["Setup.exe"])
    with open(harness.record_path(cabinet), "wb") as f:
        f.write(harness.data_record(read(cabinet)))
    return cabinet


def run_mode(word, timeout=600, program="T:\\Tarn_Gridwell_2023.exe"):
    fd, path = tempfile.mkstemp(suffix=".txt", dir=S["work"])
    with os.fdopen(fd, "wb") as f:
        f.write(word.encode("utf-8"))
    try:
        return harness.run_wine([win_build(harness.test_bin("run_command_line.exe")), program, win_work(path)],
                                timeout)
    finally:
        os.remove(path)


def unpack(cabinet):
    """{relative path: bytes} of a cabinet, unpacked by cabextract."""
    out = tempfile.mkdtemp(dir=S["work"])
    subprocess.run(["cabextract", "-q", "-d", out, cabinet], check=True, stdout=subprocess.DEVNULL)
    files = {}
    for root, _, names in os.walk(out):
        for name in names:
            path = os.path.join(root, name)
            # cabextract writes names without the UTF-8 flag as their bytes.
            raw = os.fsencode(os.path.relpath(path, out))
            try:
                name = raw.decode("utf-8")
            except UnicodeDecodeError:
                name = raw.decode("cp1252")
            files[name] = read(path)
    shutil.rmtree(out)
    return files


def compression(cabinet):
    """The first folder's compression type: 0 stored, 1 MSZIP."""
    data = read(cabinet)
    return struct.unpack_from("<H", data, 36 + 6)[0] & 0x0F


def snapshot(folder):
    return {os.path.relpath(os.path.join(root, name), folder): read(os.path.join(root, name))
            for root, _, names in os.walk(folder) for name in names}


def tree(files):
    for relative, data in files.items():
        write(relative, data)


def gcab(cabinet, folder, names):
    os.makedirs(os.path.dirname(cabinet), exist_ok=True)
    subprocess.run(["gcab", "-c", "-z", cabinet] + names, cwd=folder, check=True)


@unittest.skipUnless(find_makecab(), "no MakeCab.exe built (tools/makecab)")
class GridwellPacking(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(drive("n/CD_2023"), ignore_errors=True)
        cls.source = {
            "Setup.exe": harness.payload(70000, 1),
            "Data/Ünïcode Name.txt": "Grüße aus der Schweiz\r\n" * 500,
            "Data/Thumbs.db": b"thumbs",
            "Data/sub/Readme.fileinfo.txt": b"[FileInfo]\r\n",
            "Data/sub/Setup": b"no extension",
            "Data/sub/old.bak": b"backup",
            "Data_X64/empty.dat": b"",
            "Tarn Gridwell/Tarn Gridwell 2023/QX(2).cab": harness.payload(5000, 2),
            "Tarn Gridwell/Tarn Gridwell 2023/QX(10).cab": harness.payload(6000, 3),
        }
        tree({GRIDWELL + "/" + k: v for k, v in cls.source.items()})
        updater(DOWNLOAD)
        cls.times = {k: os.stat(drive(GRIDWELL + "/" + k)).st_mtime for k in cls.source}

    def package(self, number):
        return drive(f"{DOWNLOAD}/Tarn_Gridwell_2023_({number}).cab")

    def test_1_pack_gridwell_publishes_packages_records_list_and_starters(self):
        messages()
        code, output = run_mode("PackGridwell")
        self.assertEqual(messages(), [], output)
        self.assertEqual(lines(drive(DOWNLOAD + "/Tarn_Gridwell_2023_Download_List.txt")),
                         ["Tarn_Gridwell_2023_(1).cab", "Tarn_Gridwell_2023_(2).cab", "Tarn_Gridwell_2023_(3).cab",
                          "SetupUpdater_2023.cab"])
        main = unpack(self.package(1))
        packed = {k: v if isinstance(v, bytes) else v.encode("cp1252") for k, v in self.source.items()
                  if not k.startswith("Tarn Gridwell/") and k not in
                  ("Data/Thumbs.db", "Data/sub/Readme.fileinfo.txt", "Data/sub/old.bak")}
        self.assertEqual(main, packed)
        self.assertEqual(compression(self.package(1)), 1)
        # QX carriers in list order, QX(10) before QX(2), stored.
        for number, name in ((2, "QX(10).cab"), (3, "QX(2).cab")):
            self.assertEqual(unpack(self.package(number)),
                             {"Tarn Gridwell/Tarn Gridwell 2023/" + name: self.source["Tarn Gridwell/Tarn Gridwell 2023/" + name]})
            self.assertEqual(compression(self.package(number)), 0)
        for number in (1, 2, 3):
            data = read(self.package(number))
            self.assertEqual(sorted(read(harness.record_path(self.package(number))).splitlines()),
                             sorted(harness.data_record(data).splitlines()))
        for starter in STARTERS:
            self.assertTrue(filecmp.cmp(drive(DOWNLOAD + "/" + starter),
                                        os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), False))
        for relative, mtime in self.times.items():
            # File times have a resolution of 100 ns.
            self.assertAlmostEqual(os.stat(drive(GRIDWELL + "/" + relative)).st_mtime, mtime, delta=1e-6, msg=relative)
        config = read(drive("n/CD_2023/DataPacking.cgf")).decode("cp1252")
        self.assertIn("Extension=.bak", config)
        self.assertIn("File_ArMember_8=2022_Setup_App.pdf", config)
        self.assertIn("Setup.exe", read(drive("h/test.txt")).decode("cp1252"))

    def test_2_quick_without_carriers_and_held_cabinet_publish_nothing(self):
        published = snapshot(drive(DOWNLOAD))
        # PackQuick relies on carriers of an earlier run: here there are none.
        for number in (2, 3):
            os.rename(self.package(number), self.package(number) + ".away")
        code, _ = run_mode("PackQuick")
        self.assertEqual(code, 1)
        self.assertEqual(messages(), ["Fehler bei\n\"N:\\CD_2023\\Download\\Tarn_Gridwell_2023_(3).cab\"\nmissing (error 2)\n"
                                      "\"N:\\CD_2023\\Download\\Tarn_Gridwell_2023_(2).cab\"\nmissing (error 2)"])
        for number in (2, 3):
            os.rename(self.package(number) + ".away", self.package(number))
        self.assertEqual(read(drive(DOWNLOAD + "/Tarn_Gridwell_2023_Download_List.txt")),
                         published["Tarn_Gridwell_2023_Download_List.txt"])

        # A published package held open elsewhere: nothing of it changes.
        write(GRIDWELL + "/Data/new.txt", b"new content" * 200)
        published = snapshot(drive(DOWNLOAD))
        ready = os.path.join(S["work"], "holding")
        holder = subprocess.Popen(["wine", win_build(harness.test_bin("hold_file.exe")),
                                   "N:\\CD_2023\\Download\\Tarn_Gridwell_2023_(1).cab", "60000", win_work(ready)],
                                  env=harness.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            for _ in range(200):
                if os.path.exists(ready):
                    break
                time.sleep(0.1)
            run_mode("PackGridwell")
        finally:
            holder.kill()
            holder.wait()
        self.assertEqual(messages(), ["Fehler bei\n\"N:\\CD_2023\\Download\\Tarn_Gridwell_2023_(1).cab\"\n"
                                      "cannot be replaced, it is held open elsewhere (error 32)"])
        after = snapshot(drive(DOWNLOAD))
        self.assertEqual(after, published)
        os.remove(drive(GRIDWELL + "/Data/new.txt"))

    def test_3_pack_all_makes_the_qx_cabinets_first(self):
        qx = "n/Desktop/QX Version/QX/QX"
        tree({qx + "/QX.dll": harness.payload(40000, 7), qx + "/Sub/Daten.txt": "QX " * 3000})
        write("p/QXSetup/Release/QXSetup.exe", harness.payload(3000, 8))
        write(QX_FOLDER + "/QX(7).cab", b"stale cabinet of an earlier, larger split")
        run_mode("PackAll")
        self.assertEqual(messages(), [])
        self.assertFalse(os.path.exists(drive(QX_FOLDER + "/QX(7).cab")))
        self.assertEqual(unpack(drive(QX_FOLDER + "/QX(1).cab")),
                         {"QX.dll": read(drive(qx + "/QX.dll")), "QXSetup.exe": read(drive("p/QXSetup/Release/QXSetup.exe")),
                          "Sub/Daten.txt": read(drive(qx + "/Sub/Daten.txt"))})
        # The QX packing replaced every earlier QX cabinet: QX(1) is the one carrier.
        self.assertFalse(os.path.exists(drive(QX_FOLDER + "/QX(2).cab")))
        self.assertEqual(lines(drive(DOWNLOAD + "/Tarn_Gridwell_2023_Download_List.txt")),
                         ["Tarn_Gridwell_2023_(1).cab", "Tarn_Gridwell_2023_(2).cab", "SetupUpdater_2023.cab"])
        self.assertEqual(list(unpack(self.package(2))), ["Tarn Gridwell/Tarn Gridwell 2023/QX(1).cab"])
        # "PackOEM" makes its target folder when it is missing.
        shutil.rmtree(drive(QX_FOLDER))
        run_mode("PackOEM")
        self.assertEqual(messages(), [])
        self.assertEqual(sorted(os.listdir(drive(QX_FOLDER))), ["QX(1).cab", "QX(1).fileinfo.txt"])
        shutil.rmtree(drive(QX_FOLDER))


@unittest.skipUnless(find_makecab(), "no MakeCab.exe built (tools/makecab)")
class OtherModes(unittest.TestCase):
    def test_null_update_and_corvin_lists(self):
        shutil.rmtree(drive("n/CD_2023"), ignore_errors=True)
        tree({GRIDWELL + "/Data/a.txt": "a" * 3000, GRIDWELL + "/Data_X64/vcredist_x64.exe": b"vc",
              GRIDWELL + "/Data_X64/b.dll": harness.payload(4000, 4), GRIDWELL + "/Other/c.txt": b"not packed"})
        run_mode("MakeNullUpdate")
        self.assertEqual(messages(), ["MakeNullUpdate"])
        self.assertFalse(os.path.exists(drive(GRIDWELL + "/!__Update_Version__!.txt")))
        cabinet = drive("n/CD_2023/NullUpdater/SetupUpdater_2023.cab")
        content = unpack(cabinet)
        self.assertEqual(sorted(content), ["!__Update_Version__!.txt", "Data/a.txt", "Data_X64/b.dll"])
        self.assertRegex(content["!__Update_Version__!.txt"].decode(), r"UpdateCreateTime=\d{4}\.\d\d\.\d\d_\d\d:\d\d:\d\d")
        for folder in ("n/CD_2023/Download", "m/CD_2023/Download", "w/WWW/Kavra/Gridwell/Data/2023/Downloads",
                       "w/WWW/Kavra/Lumara/Data/2023/Downloads"):
            self.assertEqual(read(drive(folder + "/SetupUpdater_2023.cab")), read(cabinet))
            self.assertEqual(read(drive(folder + "/SetupUpdater_2023.fileinfo.txt")), read(harness.record_path(cabinet)))

        # Corvin: the list starts with the updater (published above).
        tree({"m/CD_2023/Corvin/Corvin.exe": harness.payload(9000, 5), "m/CD_2023/Corvin/x/Thumbs.db": b"t"})
        run_mode("PackCorvin")
        self.assertEqual(messages(), [])
        corvin_list = drive("m/CD_2023/Download/Tarn_Corvin_2023_App_Download_List.txt")
        self.assertEqual(lines(corvin_list), ["SetupUpdater_2023.cab", "Tarn_Corvin_2023_1.cab"])
        self.assertEqual(list(unpack(drive("m/CD_2023/Download/Tarn_Corvin_2023_1.cab"))), ["Corvin.exe"])
        self.assertTrue(os.path.exists(drive("m/CD_2023/DataPacking.cgf")))
        # A missing source (an unmapped share) leaves the published list.
        published = read(corvin_list)
        os.rename(drive("m/CD_2023/Corvin"), drive("m/CD_2023/Corvin.away"))
        run_mode("PackCorvin")
        os.rename(drive("m/CD_2023/Corvin.away"), drive("m/CD_2023/Corvin"))
        self.assertEqual(messages(), ["Fehler bei\n\"M:\\CD_2023\\Corvin\"\nthe source folder is missing or holds no file"])
        self.assertEqual(read(corvin_list), published)

    def test_video_trainings_keep_their_autorun(self):
        autorun = "[Tarn DVD-Info]\r\nName=Alt\r\n[Setup]\r\nSetupTitle=Alt\r\n"
        tree({"m/CD_2023/VTs1/Autorun.inf": autorun, "m/CD_2023/VTs1/Film 1.mp4": harness.payload(8000, 6),
              "m/CD_2023/VTs2/Tarn Revit 2023 VideoTraining Advanced/a.mp4": harness.payload(5000, 7),
              "m/CD_2023/VTs2/Other/b.mp4": harness.payload(5000, 8),
              })
        updater("n/Desktop/!Upd/UpdateData")
        # A backup at the start: an interrupted run; neither file is touched.
        write("m/CD_2023/VTs1/Autorun.inf.bak", b"original")
        run_mode("PackRVTTrainings")
        self.assertEqual(messages(), ["Fehler bei\n\"M:\\CD_2023\\VTs1\\Autorun.inf\"\n\"M:\\CD_2023\\VTs1\\Autorun.inf.bak\"\n"
                                      "a backup left by an interrupted run: compare and remove it"])
        self.assertEqual(read(drive("m/CD_2023/VTs1/Autorun.inf.bak")), b"original")
        os.remove(drive("m/CD_2023/VTs1/Autorun.inf.bak"))

        run_mode("PackRVTTrainings")
        self.assertEqual(messages(), [])
        self.assertEqual(lines(drive("m/CD_2023/Download/Tarn_Revit_VTs_2023_Download_List.txt")),
                         ["SetupUpdater_2023.cab", "Tarn_Revit_VTs_2023_1.cab", "Tarn_Revit_VTs_2023_2.cab"])
        first = unpack(drive("m/CD_2023/Download/Tarn_Revit_VTs_2023_1.cab"))
        self.assertIn(b"Name=Tarn Revit 2023 VideoTrainings", first["Autorun.inf"])
        self.assertEqual(sorted(first), ["Autorun.inf", "Film 1.mp4"])
        self.assertEqual(list(unpack(drive("m/CD_2023/Download/Tarn_Revit_VTs_2023_2.cab"))),
                         ["Tarn Revit 2023 VideoTraining Advanced/a.mp4"])
        self.assertEqual(read(drive("m/CD_2023/VTs1/Autorun.inf")), autorun.encode())
        self.assertFalse(os.path.exists(drive("m/CD_2023/VTs1/Autorun.inf.bak")))
        self.assertTrue(os.path.exists(drive("m/CD_2023/Download/Tarn_Videotrainings_2023.exe")))

    def test_memory_stick_folders_twice(self):
        for _ in range(2):
            run_mode("CreateMemoryStickData")
            self.assertEqual(messages(), [])
            self.assertEqual(sorted(os.listdir(drive("v/Temp/MemoryStickData_2023"))), ["Gridwell", "Lumara"])
            self.assertEqual(os.listdir(drive("v/Temp/MemoryStickData_2023/Gridwell")), [])


@unittest.skipUnless(find_makecab(), "no MakeCab.exe built (tools/makecab)")
class PackServeInstall(unittest.TestCase):
    """Both sides of a release: a tree packed by "PackGridwell", served by
    nginx and installed by the program's installer lands byte-identical."""

    def test_packed_tree_installs_byte_identical(self):
        shutil.rmtree(drive("n/CD_2023"), ignore_errors=True)
        source = {
            "Setup.exe": read(harness.test_bin("record_start.exe")),
            "Autorun.inf": b"[autorun]\r\nopen=Setup.exe\r\n",
            "Daten/Grüße und Maße.txt": "Straße, Größe, Fuß\r\n".encode("cp1252") * 4000,
            "Daten/Teil 1/leer.dat": b"",
            # Several 32 KiB blocks, half of them incompressible.
            "Daten/Teil 1/gemischt.bin": harness.payload(150000, 11) + b"Tarn " * 30000,
            "Daten/Teil 2/Setup": b"no extension",
            "Tarn Gridwell/Tarn Gridwell 2023/QX(1).cab": harness.payload(40000, 12),
            "Tarn Gridwell/Tarn Gridwell 2023/QX(2).cab": harness.payload(30000, 13),
        }
        dropped = {"Daten/Thumbs.db": b"cache", "Daten/Teil 2/alt.bak": b"old",
                   "Daten/Readme.fileinfo.txt": b"[FileInfo]\r\n"}
        tree({GRIDWELL + "/" + k: v for k, v in {**source, **dropped}.items()})
        updater(DOWNLOAD)
        run_mode("PackGridwell")
        self.assertEqual(messages(), [])

        # The server publishes what the packing put into the download folder.
        nginx = S["nginx"]
        base = "rt/gridwell/data/2023"
        served = os.path.join(S["www"], *base.split("/"), "Downloads")
        shutil.copytree(drive(DOWNLOAD), served)
        harness.publish(S["www"], base + "/Downloads/SetupUpdater_2023.cab", b"MSCF updater stand-in")
        packages = lines(os.path.join(served, "Tarn_Gridwell_2023_Download_List.txt"))[:-1]
        self.assertEqual(len(packages), 3)

        user = os.path.join(prefix(), "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name)
        product_list = os.path.join(user, "Desktop", "Tarnix_Software.txt")
        quiet = read(product_list)
        self.addCleanup(lambda: open(product_list, "wb").write(quiet))
        with open(product_list, "wb") as f:
            f.write(f"[Settings]\r\nTarn_Gridwell_2023={nginx.url}/{base}\r\n"
                    "[Ready]\r\nTarn_Gridwell_2023=True\r\n".encode("ascii"))
        data = os.path.join(prefix(), "drive_c", "Tarn_InstallData", "Tarn Gridwell 2023")
        shutil.rmtree(data, ignore_errors=True)
        nginx.clear_log()
        # The installer's dialog is a dialog box too: nobody presses its buttons.
        stop_answering()
        self.addCleanup(start_answering)
        code, output = run_mode("", timeout=300)

        landed = snapshot(data)
        self.assertEqual(landed.pop("SetupUpdater_2023.cab"), b"MSCF updater stand-in")
        landed.pop("SetupUpdater_2023.fileinfo.txt", None)
        started = landed.pop("Setup.started.txt", b"").decode("utf-8").split("end\n")[:-1]
        self.assertEqual(len(started), 1, output)
        self.assertEqual(landed, source)
        for name in packages:
            self.assertEqual(nginx.count(f"/{base}/Downloads/{name}"), 1, name)


class DataPackImage(unittest.TestCase):
    def test_image_unpacks_every_listed_package_and_publishes_the_zip(self):
        staging = os.path.join(S["work"], "staging")
        doubles = os.path.join(harness.CONFIG["build_dir"], "tests", "bin", "doubles")
        # Gridwell packages with the product's update tool inside.
        os.makedirs(os.path.join(staging, "g"))
        shutil.copy(os.path.join(doubles, "Update_x64.exe"), os.path.join(staging, "g", "Update_x64.exe"))
        gdl = drive("z/Vertix/CD_2023/Download")
        gcab(os.path.join(gdl, "Tarn_Gridwell_2023_(1).cab"), os.path.join(staging, "g"), ["Update_x64.exe"])
        with open(os.path.join(staging, "g", "Setup.exe"), "wb") as f:
            f.write(b"setup")
        gcab(os.path.join(gdl, "SetupUpdater_2023.cab"), os.path.join(staging, "g"), ["Setup.exe"])
        write("z/Vertix/CD_2023/Download/SetupUpdater_2023.fileinfo.txt", b"[FileInfo]\r\n")
        write("z/Vertix/CD_2023/Download/Tarn_Gridwell_2023_Download_List.txt",
              "Tarn_Gridwell_2023_(1).cab\r\nSetupUpdater_2023.cab\r\n")
        for n in (0, 1, 3):
            write(f"z/Vertix/CD_2023/Download/Tarn_Gridwell_2023_Update_0{n}.exe", f"update {n}")
        # Corvin: a third package that the fixed numbers would miss.
        cdl = drive("z/Revit/CD_2023/Download")
        for n in (1, 2, 3):
            with open(os.path.join(staging, f"c{n}.txt"), "w") as f:
                f.write(f"corvin {n}")
            gcab(os.path.join(cdl, f"Tarn_Corvin_2023_{n}.cab"), staging, [f"c{n}.txt"])
        # Corvin lists start with the updater, whose files are newer: it is unpacked last all the same.
        os.makedirs(os.path.join(staging, "u"))
        with open(os.path.join(staging, "u", "c1.txt"), "w") as f:
            f.write("corvin 1, newer from the updater")
        gcab(os.path.join(cdl, "SetupUpdater_2023.cab"), os.path.join(staging, "u"), ["c1.txt"])
        write("z/Revit/CD_2023/Download/SetupUpdater_2023.fileinfo.txt", b"[FileInfo]\r\n")
        write("z/Revit/CD_2023/Download/Tarn_Corvin_2023_App_Download_List.txt",
              "SetupUpdater_2023.cab\r\nTarn_Corvin_2023_1.cab\r\nTarn_Corvin_2023_2.cab\r\nTarn_Corvin_2023_3.cab\r\n")
        zip_tool = drive("z/Vertix/CD_2023/Tarn Gridwell/Tarn Gridwell/Tarn Gridwell 2023/AC_X64/ZipFolder.exe")
        os.makedirs(os.path.dirname(zip_tool), exist_ok=True)
        shutil.copy(os.path.join(doubles, "ZipFolder.exe"), zip_tool)
        os.makedirs(drive("w/WWW/Lumara/Data/2023"), exist_ok=True)

        run_mode("CreateDataPack")
        self.assertEqual(messages(), [])
        inventory = read(drive("w/WWW/Lumara/Data/2023/Tarn_InstallData.zip")).decode("utf-8").splitlines()
        names = {line.split("\t")[0] for line in inventory}
        gw = "Tarn_InstallData\\Tarn Gridwell 2023\\"
        cv = "Tarn_InstallData\\Tarn Corvin 2023\\"
        self.assertLessEqual({gw + "Update_x64.exe", gw + "Setup.exe", gw + "Setup.cfg", gw + "SetupUpdater_2023.cab",
                              gw + "Update_x64.started.txt", gw + "Tarn_Gridwell_2023_Update_01.exe",
                              cv + "c1.txt", cv + "c3.txt", cv + "Setup.cfg"}, names)
        self.assertIn(cv + "c1.txt\t32", inventory)
        self.assertNotIn(gw + "Tarn_Gridwell_2023_Update_03.exe", names)

        # A listed package that is missing: a message, and the zip of the
        # earlier run is not published again.
        os.remove(os.path.join(cdl, "Tarn_Corvin_2023_3.cab"))
        os.remove(drive("w/WWW/Lumara/Data/2023/Tarn_InstallData.zip"))
        run_mode("CreateDataPack")
        self.assertEqual(messages(), ["Fehler bei\n\"Z:\\Revit\\CD_2023\\Download\\Tarn_Corvin_2023_3.cab\"\nlisted but missing"])
        self.assertFalse(os.path.exists(drive("w/WWW/Lumara/Data/2023/Tarn_InstallData.zip")))


if __name__ == "__main__":
    unittest.main()
