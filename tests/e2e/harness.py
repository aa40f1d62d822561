"""What the end-to-end tests share: a real nginx and tools/devserver on
127.0.0.1, Wine runs of the real program and the test helpers in the tests'
own prefix, and the download server's file layout (files with their
file-info records).

Each test module calls start() from setUpModule and stop() from
tearDownModule; start() reads its settings from the command line of the
runner (see run_e2e.py) through configure().
"""

import json
import os
import re
import pwd
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "fileinfo"))
from fileinfo import data_record, file_crc, record_path, record_text, signed32  # noqa: E402,F401

import authority  # noqa: E402
from nginx_conf import nginx_conf  # noqa: E402

CONFIG = {}
STATE = {}

CHUNK = 16384


def configure(build_dir, source_dir, nginx="nginx"):
    CONFIG["build_dir"] = os.path.abspath(build_dir)
    CONFIG["source_dir"] = os.path.abspath(source_dir)
    CONFIG["nginx"] = nginx


# ----------------------------------------------------------------- records

def publish(root, relative, data, record="auto", crc=None):
    """Writes a file below a server root; with record "auto" also its record
    (size, checksum and SHA-256; with `crc` size and that checksum only), with
    bytes that record, with None no record (one
    that is there stays: a description text shares its update's stem)."""
    path = os.path.join(root, *relative.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if record == "auto":
        record = data_record(data) if crc is None else record_text(len(data), crc)
    if record is not None:
        with open(record_path(path), "wb") as f:
            f.write(record)
    return path


def payload(size, seed=1):
    """Deterministic bytes that compress badly."""
    return random.Random(seed).randbytes(size)


# ----------------------------------------------------------------- servers

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, what):
    for _ in range(200):
        if process.poll() is not None:
            raise RuntimeError(f"{what} ended at start (exit {process.returncode})")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"{what} does not answer on port {port}")


class Nginx:
    """A real nginx with its own configuration on a free local port; with
    `tls` (name -> (certificate, key) files) also one TLS server per name on
    a port of its own, reached as https://localhost:<port> (tls_urls[name]).
    A TLS server answers /to-plain/<path> with a redirect to <path> on the
    plain server, and logs apart: requests() are those of the plain one."""

    def __init__(self, work, root, tls=None):
        self.root = root
        self.work = os.path.join(work, "nginx")
        os.makedirs(self.work, exist_ok=True)
        self.access_log = os.path.join(self.work, "access.log")
        self.port = free_port()
        servers = ""
        self.tls_urls = {}
        for name, (certificate, key) in (tls or {}).items():
            port = free_port()
            servers += f"""    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {certificate};
        ssl_certificate_key {key};
        root {root};
        access_log {self.work}/tls-access.log plain;
        rewrite ^/to-plain/(.*)$ http://127.0.0.1:{self.port}/$1 redirect;
    }}
"""
            self.tls_urls[name] = f"https://localhost:{port}"
        conf = nginx_conf(self.work, root, self.port, servers, access_log=self.access_log)
        self.conf = os.path.join(self.work, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(conf)
        self.process = subprocess.Popen(
            [CONFIG.get("nginx", "nginx"), "-c", self.conf, "-p", self.work],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.work, "stderr"), "w"))
        wait_for_port(self.port, self.process, "nginx")
        self.url = f"http://127.0.0.1:{self.port}"

    def requests(self):
        """(method, path, status) of every request so far."""
        time.sleep(0.05)  # nginx writes its log line after the response
        if not os.path.exists(self.access_log):
            return []
        with open(self.access_log) as f:
            return [tuple(line.split()[:3]) for line in f if line.strip()]

    def count(self, path):
        return sum(1 for method, p, _ in self.requests() if p == path and method == "GET")

    def clear_log(self):
        open(self.access_log, "w").close()
        self.process.send_signal(signal.SIGUSR1)  # reopen the log
        time.sleep(0.1)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Squid:
    """A real squid on a free local port that lets through only requests
    with the Basic login `user`/`password` (basic_ncsa_auth). log() gives
    (status, url, user) of each request it saw."""

    def __init__(self, work, user, password):
        self.work = os.path.join(work, "squid")
        os.makedirs(self.work, exist_ok=True)
        self.port = free_port()
        self.access_log = os.path.join(self.work, "access.log")
        hashed = subprocess.run(["openssl", "passwd", "-apr1", password], capture_output=True, text=True,
                                check=True).stdout.strip()
        with open(os.path.join(self.work, "passwd"), "w") as f:
            f.write(f"{user}:{hashed}\n")
        conf = f"""http_port 127.0.0.1:{self.port}
pid_filename {self.work}/squid.pid
access_log stdio:{self.access_log}
cache_log {self.work}/cache.log
coredump_dir {self.work}
cache deny all
cache_mem 8 MB
shutdown_lifetime 1 seconds
auth_param basic program /usr/lib/squid/basic_ncsa_auth {self.work}/passwd
auth_param basic realm Tarn-Test
acl login proxy_auth REQUIRED
http_access allow login
http_access deny all
"""
        with open(os.path.join(self.work, "squid.conf"), "w") as f:
            f.write(conf)
        os.chmod(self.work, 0o777)
        self.process = subprocess.Popen(["squid", "-N", "-f", os.path.join(self.work, "squid.conf")],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.work, "stderr"), "w"))
        wait_for_port(self.port, self.process, "squid")

    def log(self):
        time.sleep(0.2)
        if not os.path.exists(self.access_log):
            return []
        with open(self.access_log) as f:
            return [(fields[3], fields[6], fields[7]) for fields in (line.split() for line in f)
                    if len(fields) > 7 and fields[5] == "GET"]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class DevServer:
    """tools/devserver on a free local port, driven through its control endpoint."""

    def __init__(self, work, root, missing_status=404):
        self.root = root
        self.work = os.path.join(work, f"devserver-{missing_status}")
        os.makedirs(self.work, exist_ok=True)
        port_file = os.path.join(self.work, "port")
        script = os.path.join(CONFIG["source_dir"], "tools", "devserver", "devserver.py")
        self.process = subprocess.Popen(
            ["python3", script, "--root", root, "--port-file", port_file,
             "--missing-status", str(missing_status), "--log", os.path.join(self.work, "requests.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.work, "stderr"), "w"))
        for _ in range(200):
            if os.path.exists(port_file):
                break
            if self.process.poll() is not None:
                raise RuntimeError("devserver ended at start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        wait_for_port(self.port, self.process, "devserver")
        self.url = f"http://127.0.0.1:{self.port}"

    def _control(self, name, body=None, method="POST"):
        request = urllib.request.Request(f"{self.url}/_devserver/{name}", data=body, method=method)
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.read()

    def rules(self, rules):
        self._control("rules", json.dumps(rules).encode(), "PUT")

    def reset(self):
        self._control("reset")

    def log(self):
        text = self._control("log", method="GET").decode()
        return [json.loads(line) for line in text.splitlines() if line.strip()]

    def gets(self, path):
        return [e for e in self.log() if e["path"] == path and e["method"] == "GET"]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


# ----------------------------------------------------------------- Wine

def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(CONFIG["build_dir"], "wineprefix"))
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env["LANG"] = env["LC_ALL"] = "de_DE.UTF-8"
    return env


def winpath(path):
    """The Windows path of a host path (Wine maps the host's root to Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_wine(args, timeout=300, dll_overrides=None):
    """Runs a Windows program; returns (exit code, output). Output goes
    through a file: Wine's service processes would keep a pipe open.
    `dll_overrides` is added to WINEDLLOVERRIDES."""
    env = wine_env()
    if dll_overrides:
        env["WINEDLLOVERRIDES"] = ";".join(filter(None, (env.get("WINEDLLOVERRIDES"), dll_overrides)))
    with tempfile.TemporaryFile() as out:
        process = subprocess.run(["wine"] + list(args), stdin=subprocess.DEVNULL, stdout=out,
                                 stderr=subprocess.STDOUT, env=env, timeout=timeout)
        out.seek(0)
        return process.returncode, out.read().decode("utf-8", "replace")


def test_bin(name):
    return os.path.join(CONFIG["build_dir"], "tests", "bin", name)


def fetch(mode, url, destination, *options, timeout=300):
    """Runs tests/helpers/http_fetch.exe; returns its key=value lines as a dict."""
    code, output = run_wine([test_bin("http_fetch.exe"), mode, url, destination] + list(options), timeout)
    values = {}
    for line in output.splitlines():
        key, eq, value = line.strip().partition("=")
        if eq:
            values[key] = value
    values["exit"] = code
    values["output"] = output
    return values


def run_program(command_line, program=None, timeout=300, dll_overrides=None):
    """Runs the program with exactly `command_line` after its quoted path."""
    program = program or os.path.join(CONFIG["build_dir"], "Tarn_Gridwell_2023.exe")
    fd, path = tempfile.mkstemp(suffix=".txt", dir=STATE["work"])
    with os.fdopen(fd, "wb") as f:
        f.write(command_line.encode("utf-8"))
    try:
        code, output = run_wine([test_bin("run_command_line.exe"), winpath(program), winpath(path)], timeout,
                                dll_overrides)
    finally:
        os.remove(path)
    # The whole exit code (1602 and the like) as the helper printed it. Wine
    # may have begun a line of its own on the shared stderr before it (a
    # thread it tears down at the program's exit: "wine client error:<id>: "),
    # so the code is taken from the end of any line.
    for line in output.splitlines():
        found = re.search(r"(?:^|\s)exit=(\d+)\s*$", line)
        if found:
            code = int(found.group(1))
    return code, output


# ----------------------------------------------------------------- prefixes

# Files of a prefix that Wine only reads: a prefix of a module's own shares
# them with the shared prefix through hard links instead of copies.
SHARED_SUFFIXES = (".dll", ".exe", ".drv", ".sys", ".acm", ".ocx", ".cpl", ".tlb", ".nls", ".ttf", ".fon", ".mui")


def copy_prefix_file(source, target):
    if source.lower().endswith(SHARED_SUFFIXES):
        try:
            os.link(source, target)
            return target
        except OSError:
            pass
    return shutil.copy2(source, target)


def seal_prefix(prefix):
    """Each link among the user folders that leads out of the prefix becomes
    an empty folder, so that nothing a run writes lands in the host user's
    home, and nothing left there reaches a run (as scripts/common.sh seals
    the shared prefix)."""
    users = os.path.join(prefix, "drive_c", "users")
    inside = os.path.realpath(prefix) + os.sep
    for user in os.listdir(users) if os.path.isdir(users) else ():
        for name in os.listdir(os.path.join(users, user)):
            link = os.path.join(users, user, name)
            if os.path.islink(link) and not os.path.realpath(link).startswith(inside):
                os.remove(link)
                os.makedirs(link)


def use_prefix(name):
    """Runs the following Wine programs in a prefix of their own,
    <build>/wineprefix-<name>: made once from the shared prefix (its user
    data and temporary files left out) and sealed, with a Wine server of its
    own kept running until stop()."""
    shared = STATE.setdefault("shared_prefix", wine_env()["WINEPREFIX"])
    prefix = os.path.join(CONFIG["build_dir"], "wineprefix-" + name)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        user = pwd.getpwuid(os.getuid()).pw_name
        skipped = {os.path.join(shared, "drive_c"): {"Tarn_InstallData"},
                   os.path.join(shared, "drive_c", "users", user): {"Temp"}}
        partial = prefix + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.copytree(shared, partial, symlinks=True, copy_function=copy_prefix_file,
                        ignore=lambda folder, names: skipped.get(folder, set()) & set(names) | {"wineserver"})
        os.makedirs(os.path.join(partial, "drive_c", "users", user, "Temp"), exist_ok=True)
        os.rename(partial, prefix)
    seal_prefix(prefix)
    os.makedirs(os.path.join(prefix, "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name, "Desktop"),
                exist_ok=True)
    os.environ["WINEPREFIX"] = prefix
    servers = STATE.setdefault("prefix_servers", {})
    if prefix not in servers:
        servers[prefix] = subprocess.Popen(["wineserver", "-p"], env=wine_env(), stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                           start_new_session=True)
    return prefix


# ----------------------------------------------------------------- life cycle

def start_display():
    """An X display for the progress bar and message boxes: the caller's, or
    a virtual one of our own."""
    if os.environ.get("DISPLAY"):
        return
    for number in range(97, 110):
        if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(50):
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                os.environ["DISPLAY"] = f":{number}"
                STATE["xvfb"] = process
                return
            if process.poll() is not None:
                break
            time.sleep(0.1)
        if process.poll() is None:
            process.kill()
            process.wait()
    raise RuntimeError("no X display could be started")


def prefix_temp():
    """The temporary folder of the Wine prefix's user."""
    return os.path.join(wine_env()["WINEPREFIX"], "drive_c", "users", pwd.getpwuid(os.getuid()).pw_name, "Temp")


def start(name, tls=False):
    """Makes a fresh work folder, starts the servers and switches the
    module's runs to a prefix of its own (use_prefix(name)), whose Wine
    server runs until stop(). With `tls`, a test authority made now is
    trusted in that prefix, and nginx also serves TLS with each certificate
    of authority.SERVERS (STATE["tls"]: name -> URL)."""
    start_display()
    work = os.path.join(CONFIG["build_dir"], "e2e-work", name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    STATE["work"] = work
    STATE["www"] = os.path.join(work, "www")
    os.makedirs(STATE["www"])
    use_prefix(name)
    certificates = None
    if tls:
        paths = authority.make(os.path.join(work, "tls"))
        authority.trust(paths["authority"], CONFIG["build_dir"], wine_env())
        certificates = {name: (paths[name], paths["key"]) for name in authority.SERVERS}
    STATE["nginx"] = Nginx(work, STATE["www"], certificates)
    STATE["tls"] = STATE["nginx"].tls_urls
    STATE["dev"] = DevServer(work, STATE["www"])
    STATE["dev200"] = DevServer(work, STATE["www"], missing_status=200)
    return STATE


def stop():
    for key in ("dev200", "dev", "nginx"):
        if key in STATE:
            STATE.pop(key).stop()
    # A prefix of the module's own is only its runs': its server and the
    # Wine services that live as long as it are ended, whoever started them.
    for prefix, server in STATE.pop("prefix_servers", {}).items():
        env = dict(wine_env(), WINEPREFIX=prefix)
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        server.wait(10)
    shared = STATE.pop("shared_prefix", None)
    if shared is not None:
        os.environ["WINEPREFIX"] = shared
    xvfb = STATE.pop("xvfb", None)
    if xvfb is not None:
        os.environ.pop("DISPLAY", None)
        xvfb.terminate()
        xvfb.wait(10)


def scratch(name):
    """A fresh folder below the work folder."""
    path = os.path.join(STATE["work"], name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def small_volume(folder, free):
    """Puts `folder` on a tmpfs of its own, keeping what it holds, and fills
    the volume until about `free` bytes are left. Returns the undo, which
    brings the folder's contents back onto the disk."""
    aside = folder + ".aside"
    os.rename(folder, aside)
    os.makedirs(folder)
    used = sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(aside) for n in names)
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={used + free + (4 << 20)}", "tmpfs", folder], check=True)
    shutil.copytree(aside, folder, dirs_exist_ok=True)
    shutil.rmtree(aside)
    stat = os.statvfs(folder)
    filler = os.path.join(folder, "filler")
    with open(filler, "wb") as f:
        f.write(b"\0" * max(0, stat.f_bavail * stat.f_frsize - free))

    def restore():
        os.remove(filler)
        shutil.copytree(folder, aside)
        subprocess.run(["umount", folder], check=True)
        os.rmdir(folder)
        os.rename(aside, folder)
    return restore
