"""Signed releases from the build machine to the customer's disk. The real
program, signed with scripts/sign-release.sh by a throwaway authority, packs
a product with TARN_SIGNING_KEY set (a throwaway key made at build time,
tests/bin/keyed/release_key.pem); nginx serves the release; the program
built with the matching public key (tests/bin/keyed/Tarn_Gridwell_2023.exe)
installs it, and refuses a release that was tampered with on the server, has
no signature or is older than one it accepted before. The program built
without keys installs the signed release as well."""

import hashlib
import os
import shutil
import subprocess
import unittest

import harness
import test_installer
import test_packing as packing
from harness import data_record, run_program, run_wine, test_bin

S = harness.STATE
LIST = "Tarn_Gridwell_2023_Download_List.txt"
SERIAL_KEY = "HKLM\\SOFTWARE\\Tarnwerk\\Tarn_Gridwell_2023"


def keyed_dir():
    return test_bin("keyed")


def setUpModule():
    S["prefix_name"] = "signing-wineprefix"
    # The installs run in a copy of the shared prefix, not of the packing one
    # (whose drives point into the work folder).
    S["shared_prefix"] = os.path.join(harness.CONFIG["build_dir"], "wineprefix")
    packing.setUpModule("signing")
    try:
        pack_signed_release()
    finally:
        packing.stop_answering()


def tearDownModule():
    packing.tearDownModule()


def pack_signed_release():
    """Signs a copy of the program, packs the product with it and the
    signing key, and keeps what was published in S["release"]."""
    keys = os.path.join(S["work"], "keys")
    subprocess.run([os.path.join(harness.CONFIG["source_dir"], "scripts", "make-throwaway-keys.sh"), keys],
                   check=True)
    S["authority"] = os.path.join(keys, "ca.pem")
    signed = os.path.join(S["work"], "signed", "Tarn_Gridwell_2023.exe")
    os.makedirs(os.path.dirname(signed))
    shutil.copy(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe"), signed)
    env = dict(os.environ, TARN_CODESIGN_PKCS12=os.path.join(keys, "codesign.p12"),
               TARN_CODESIGN_PASSWORD="throwaway")
    subprocess.run([os.path.join(harness.CONFIG["source_dir"], "scripts", "sign-release.sh"), signed], env=env,
                   check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(packing.drive("n/CD_2023"), ignore_errors=True)
    packing.tree({packing.GRIDWELL + "/Setup.exe": packing.read(test_bin("record_start.exe")),
                  packing.GRIDWELL + "/Daten/Teil.txt": "Signierte Daten\r\n" * 400,
                  packing.QX_FOLDER + "/QX(1).cab": harness.payload(5000, 4)})
    # The updater is published before a product is packed, which lists it.
    packing.updater(packing.DOWNLOAD)
    os.environ["TARN_SIGNING_KEY"] = packing.win_build(os.path.join(keyed_dir(), "release_key.pem"))
    try:
        code, output = packing.run_mode("PackGridwell", program=packing.win_work(signed))
    finally:
        del os.environ["TARN_SIGNING_KEY"]
    download = packing.drive(packing.DOWNLOAD)
    S["pack_messages"] = packing.messages()
    S["pack_output"] = output
    S["release"] = {name: packing.read(os.path.join(download, name)) for name in os.listdir(download)}
    S["verified"] = verify_releases(download)


def evil_cabinet():
    """A cabinet that did not come from the build machine."""
    evil = os.path.join(S["work"], "evil")
    os.makedirs(evil, exist_ok=True)
    with open(os.path.join(evil, "Evil.txt"), "wb") as f:
        f.write(b"not from the build machine\r\n" * 100)
    subprocess.run(["gcab", "-c", "-z", os.path.join(evil, "evil.cab"), "Evil.txt"], cwd=evil, check=True)
    return packing.read(os.path.join(evil, "evil.cab"))


def replace_package(downloads):
    # Another cabinet under the package's name, its record forged to match it.
    data = evil_cabinet()
    with open(os.path.join(downloads, "Tarn_Gridwell_2023_(1).cab"), "wb") as f:
        f.write(data)
    with open(os.path.join(downloads, "Tarn_Gridwell_2023_(1).fileinfo.txt"), "wb") as f:
        f.write(data_record(data))


def drop_signature(downloads):
    os.remove(os.path.join(downloads, LIST + ".sig"))


def unlist_package(downloads):
    path = os.path.join(downloads, LIST)
    listed = packing.read(path).replace(b"Tarn_Gridwell_2023_(2).cab\r\n", b"")
    with open(path, "wb") as f:
        f.write(listed)


def verify_releases(download):
    """{case: (exit code, what VerifyRelease said)} for the published
    release, as a folder and served, and for altered copies of it."""
    keyed = packing.win_build(os.path.join(keyed_dir(), "Tarn_Gridwell_2023.exe"))
    served = os.path.join(S["www"], "signed")
    shutil.copytree(download, served)
    cases = {"folder": (keyed, None), "served": (keyed, None), "package replaced": (keyed, replace_package),
             "package replaced, program without keys": ("T:\\Tarn_Gridwell_2023.exe", replace_package),
             "no signature": (keyed, drop_signature), "list differs": (keyed, unlist_package)}
    results = {}
    for number, (what, (program, change)) in enumerate(cases.items()):
        target = f"{S['nginx'].url}/signed"
        if what != "served":
            copy = os.path.join(S["work"], f"verify{number}")
            shutil.copytree(download, copy)
            if change:
                change(copy)
            target = packing.win_work(copy)
        code, output = packing.run_mode("VerifyRelease " + target, program=program)
        with open(os.path.join(harness.prefix_temp(), "Tarn_Gridwell_2023.log"), encoding="utf-8",
                  errors="replace") as f:
            said = [line for line in f if "VerifyRelease:" in line]
        results[what] = (code, output + "".join(said[-10:]))
        os.remove(os.path.join(harness.prefix_temp(), "Tarn_Gridwell_2023.log"))
    return results


def osslsigncode_verify(path):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", S["authority"], "-in", path],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode


class SignedRelease(test_installer.InstallerCase):
    prefix = "signing-install"

    def test_packed_release_is_signed_and_its_manifest_names_every_package(self):
        release = S["release"]
        self.assertEqual(S["pack_messages"], [], S["pack_output"])
        text = release[LIST + ".sig"].decode("utf-8")
        lines = text.split("\n")
        self.assertEqual(lines[:2], ["Tarn release manifest 1", "Product: " + LIST])
        self.assertRegex(lines[2], r"^Serial: 20\d{12}$")
        packages = ["Tarn_Gridwell_2023_(1).cab", "Tarn_Gridwell_2023_(2).cab"]
        self.assertEqual(lines[3:5], [f"Package: {len(release[name])} {hashlib.sha256(release[name]).hexdigest()} "
                                      f"{name}" for name in packages])
        self.assertRegex(lines[5], "^Signature: [0-9a-f]{128}$")
        self.assertEqual(lines[6:], [""])
        for name in packages:
            self.assertEqual(sorted(release[name[:-4] + ".fileinfo.txt"].splitlines()),
                             sorted(data_record(release[name]).splitlines()))
        # The signed program went into every starter copy.
        download = packing.drive(packing.DOWNLOAD)
        for starter in packing.STARTERS:
            self.assertEqual(osslsigncode_verify(os.path.join(download, starter)), 0, starter)
        self.assertNotEqual(osslsigncode_verify(os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe")),
                            0)

    def test_keyed_verifier_checks_the_signatures(self):
        verified = S["verified"]
        for what in ("folder", "served", "package replaced, program without keys"):
            self.assertEqual(verified[what][0], 0, verified[what][1])
        # A forged record fools the checks without keys, never the signature.
        for what, said in (("package replaced", "Tarn_Gridwell_2023_(1).cab: the signed manifest states"),
                           ("no signature", LIST + ".sig: the signed manifest is missing"),
                           ("list differs", "signs Tarn_Gridwell_2023_(2).cab, which")):
            with self.subTest(what):
                code, output = verified[what]
                self.assertEqual(code, 1, output)
                self.assertIn(said, output)
                self.assertNotIn("Tarn_Gridwell_2023_(2).cab: the signed", output)

    def serve(self, root, change=None):
        """Publishes the release below `root`; `change(downloads)` may alter it."""
        self.point_at(S["nginx"], root)
        shutil.rmtree(self.downloads, ignore_errors=True)
        os.makedirs(self.downloads)
        for name, data in S["release"].items():
            if not name.endswith(".exe"):
                with open(os.path.join(self.downloads, name), "wb") as f:
                    f.write(data)
        harness.publish(S["www"], os.path.relpath(os.path.join(self.downloads, "SetupUpdater_2023.cab"), S["www"]),
                        b"MSCF updater stand-in")
        if change:
            change(self.downloads)

    def install(self, program, box):
        """One install from nothing: the box's text (None: none expected),
        the files unpacked and the setup's starts."""
        shutil.rmtree(self.data, ignore_errors=True)
        for path in (self.status,):
            if os.path.exists(path):
                os.remove(path)
        for name in os.listdir(self.temp):
            if name.endswith(".cab"):
                os.remove(os.path.join(self.temp, name))
        # A refused release is an incomplete install: 1603, with the warning.
        text = self.run_installer(program=program, box="Tarnwerk AG" if box else None, code=1603 if box else 0)
        files = test_installer.tree_files(self.data) if os.path.isdir(self.data) else {}
        return text, files, test_installer.starts(os.path.join(self.data, "Setup.started.txt"))

    def stored_serial(self):
        code, output = run_wine(["reg", "query", SERIAL_KEY, "/v", "ReleaseSerial"])
        values = [word for word in output.split() if word.startswith("0x")]
        return int(values[0], 16) if code == 0 and values else None

    def set_serial(self, serial):
        code, output = run_wine(["reg", "add", SERIAL_KEY, "/v", "ReleaseSerial", "/t", "REG_QWORD", "/d",
                                 str(serial), "/f"])
        self.assertEqual(code, 0, output)

    def test_keyed_program_installs_only_what_the_manifest_signed(self):
        keyed = os.path.join(keyed_dir(), "Tarn_Gridwell_2023.exe")
        unkeyed = os.path.join(harness.CONFIG["build_dir"], "Tarn_Gridwell_2023.exe")
        serial = int(S["release"][LIST + ".sig"].decode().split("\n")[2].split()[1])
        run_wine(["reg", "delete", SERIAL_KEY, "/f"])
        cases = [
            # what, program, change of the served release, stored serial before, refusal text or None
            ("signed release", keyed, None, None, None),
            ("package replaced, record forged", keyed, replace_package, None,
             "Das Datenpaket Tarn_Gridwell_2023_(1).cab stimmt nicht mit der signierten Liste"),
            ("no signature", keyed, drop_signature, None, "Die Signatur der Produktdaten fehlt."),
            ("list differs from the manifest", keyed, unlist_package, None,
             "Die Downloadliste stimmt nicht mit der signierten Liste"),
            ("older than the release accepted before", keyed, None, serial + 1,
             "Die angebotenen Produktdaten sind \u00e4lter als die bereits installierten."),
            ("program without keys", unkeyed, None, serial + 1, None),
        ]
        for number, (what, program, change, stored, refusal) in enumerate(cases):
            with self.subTest(what):
                self.serve(f"s{number}", change)
                if stored is not None:
                    self.set_serial(stored)
                text, files, setup_starts = self.install(program, refusal is not None)
                if refusal is None:
                    self.assertIn("Daten/Teil.txt", {k.replace(os.sep, "/") for k in files})
                    self.assertEqual(len(setup_starts), 1)
                    continue
                self.assertIn(refusal, text)
                self.assertIn("Der Download konnte nicht vollst\u00e4ndig abgeschlossen werden.", text)
                # Nothing of the release was unpacked and no setup started.
                self.assertEqual({k for k in files if not k.endswith(".txt") or "Teil" in k}, set(), what)
                self.assertEqual(setup_starts, [])
            if what == "signed release":
                self.assertEqual(self.stored_serial(), serial)
        run_wine(["reg", "delete", SERIAL_KEY, "/f"])


if __name__ == "__main__":
    unittest.main()
