#!/usr/bin/env python3
"""A certificate authority of the tests' own, made with openssl at test time,
and the server certificates the TLS tests and the download benchmark serve.

  authority.py <folder> --build-dir <build>

makes the files below <folder> and makes the authority a trusted root of the
local machine inside the Wine prefix named by WINEPREFIX (default
<build>/wineprefix), through tests/helpers' trust_authority.exe. The host's
own trust store is never touched.

Every server certificate shares one key. Wine's WinInet matches a
certificate by a DNS name only (an IP address among its alternative names
does not count), so the servers are reached as "localhost".
"""

import argparse
import os
import subprocess
import sys

HOST = "localhost"
SUBJECT = "/CN=Tarn Test Authority"

# Server certificates: name -> (host name, signed by the authority, days valid).
# A negative number of days ends the validity before it begins: expired.
SERVERS = {
    "good": (HOST, True, 30),
    "self-signed": (HOST, False, 30),
    "expired": (HOST, True, -1),
    "other-host": ("elsewhere.invalid", True, 30),
}


def openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def make(folder):
    """Makes the authority and the server certificates; returns a dict of
    paths: "authority" (its DER form), "key", and one per name of SERVERS."""
    os.makedirs(folder, exist_ok=True)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("authority.key"),
            "-out", path("authority.pem"), "-days", "30", "-subj", SUBJECT)
    openssl("x509", "-in", path("authority.pem"), "-outform", "DER", "-out", path("authority.der"))
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("server.key"), "-subj", f"/CN={HOST}",
            "-out", path("server.csr"))
    paths = {"authority": path("authority.der"), "key": path("server.key")}
    for serial, (name, (host, signed, days)) in enumerate(SERVERS.items(), start=2):
        extensions = path(f"{name}.ext")
        with open(extensions, "w") as f:
            f.write(f"subjectAltName=DNS:{host}\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
        if signed:
            openssl("x509", "-req", "-in", path("server.csr"), "-CA", path("authority.pem"),
                    "-CAkey", path("authority.key"), "-set_serial", str(serial), "-days", str(days),
                    "-subj", f"/CN={host}", "-extfile", extensions, "-out", path(f"{name}.pem"))
        else:
            openssl("x509", "-req", "-in", path("server.csr"), "-signkey", path("server.key"),
                    "-set_serial", str(serial), "-days", str(days), "-extfile", extensions,
                    "-out", path(f"{name}.pem"))
        paths[name] = path(f"{name}.pem")
    return paths


def trust(der_path, build_dir, env):
    """Adds the authority to the local machine's root store of the prefix in `env`."""
    helper = os.path.join(build_dir, "tests", "bin", "trust_authority.exe")
    windows_path = "Z:" + os.path.abspath(der_path).replace("/", "\\")
    result = subprocess.run(["wine", helper, windows_path], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    output = result.stdout.decode("utf-8", "replace")
    if result.returncode != 0 or "trusted=1" not in output:
        raise RuntimeError(f"the test authority could not be trusted in the prefix: {output.strip()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder")
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(os.path.abspath(args.build_dir), "wineprefix"))
    env.setdefault("WINEDEBUG", "-all")
    paths = make(args.folder)
    trust(paths["authority"], args.build_dir, env)
    for name, path in paths.items():
        print(f"{name}={path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
