#!/usr/bin/env python3
"""Packing benchmark: the program's whole "PackGridwell" mode under Wine
(its MakeCab.exe jobs compress MSZIP blocks on every core) against
`gcab -c -z` on the same Gridwell source tree, in pairs (ours, gcab, ours,
gcab, ...). Each side is timed as a whole process tree: wall time, CPU time
(user + system of every process of the tree, reaped by this script as the
tree's sub-reaper) and peak memory (the largest sum of resident sets of the
tree's processes at once, sampled, and never below the largest single
process's peak). Prints each run, the medians, the per-pair ratios (median,
min, max) and the load average; checks the packages with cabextract -t.

  pack_bench.py --program EXE --drives DIR [--pairs N]

DIR holds the mapped drives of the Wine prefix in WINEPREFIX: the tree in
DIR/n/CD_2023/Tarn Gridwell, the packages land in DIR/n/CD_2023/Download.
A Wine server of that prefix runs already, so no run pays for its start.
The tree is read once beforehand, so both sides read it from the cache.
"""

import argparse
import ctypes
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "fileinfo"))
import fileinfo  # noqa: E402

PR_SET_CHILD_SUBREAPER = 36
PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024


def publish_updater(download, work):
    """The updater cabinet with its record that every Gridwell list names;
    another mode publishes it, the packing checks that it is there."""
    os.makedirs(download, exist_ok=True)
    with open(os.path.join(work, "Setup.exe"), "wb") as f:
        f.write(os.urandom(4000))
    cabinet = os.path.join(download, "SetupUpdater_2023.cab")
    subprocess.run(["gcab", "-c", cabinet, "Setup.exe"], cwd=work, check=True)
    fileinfo.write_record(cabinet)


def list_files(content):
    files = []
    for folder, _, names in os.walk(content):
        files += [os.path.relpath(os.path.join(folder, n), content) for n in names]
    return sorted(files)


def become_subreaper():
    """Processes of a measured tree whose parent ended (Wine starts each
    Windows process through a double fork) become children of ours, so
    their CPU time reaches our children's usage when we reap them."""
    if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("cannot become the process trees' sub-reaper")


def session_state(session):
    """The summed resident sets (KiB) of the live processes of a session
    (Wine passes its session on to every process it starts), and whether
    any is left."""
    total = 0
    alive = False
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[3]) != session or fields[0] == "Z":
                continue
            alive = True
            with open("/proc/%s/statm" % pid) as f:
                total += int(f.read().split()[1]) * PAGE_KIB
        except (OSError, IndexError, ValueError):
            pass  # ended meanwhile
    return total, alive


def measure(command, cwd):
    """Wall seconds, CPU seconds and peak MiB of a command's process tree."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    errors = tempfile.TemporaryFile()
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=errors, start_new_session=True)
    peak_kib = 0
    largest_kib = 0
    ended = None
    while True:
        resident, alive = session_state(process.pid)
        peak_kib = max(peak_kib, resident)
        # Every process of the tree ends up a child of ours: reap what ended.
        while True:
            try:
                pid, wait_status, usage = os.wait4(-1, os.WNOHANG)
            except ChildProcessError:
                pid = 0
            if pid == 0:
                break
            largest_kib = max(largest_kib, usage.ru_maxrss)
            if pid == process.pid:
                process.returncode = os.waitstatus_to_exitcode(wait_status)
                ended = time.monotonic()
        if ended is not None and not alive:
            break
        if ended is not None and time.monotonic() - ended > 30:
            sys.exit("processes of %s outlived it by 30 s (is the prefix's Wine server running?)" % command[0])
        time.sleep(0.05)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if process.returncode != 0:
        errors.seek(0)
        sys.exit("%s failed (%d): %s" % (command[0], process.returncode,
                                         errors.read()[-2000:].decode("utf-8", "replace")))
    errors.close()
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, max(peak_kib, largest_kib) / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="Tarn_Gridwell_2023.exe")
    parser.add_argument("--drives", required=True)
    parser.add_argument("--pairs", type=int, default=3)
    args = parser.parse_args()
    become_subreaper()

    content = os.path.join(args.drives, "n", "CD_2023", "Tarn Gridwell")
    download = os.path.join(args.drives, "n", "CD_2023", "Download")
    work = os.path.join(args.drives, "gcab")
    files = list_files(content)
    unpacked = sum(os.path.getsize(os.path.join(content, f)) for f in files)
    for f in files:
        with open(os.path.join(content, f), "rb") as handle:
            while handle.read(1 << 20):
                pass
    os.makedirs(work, exist_ok=True)
    gcab_cab = os.path.join(work, "gcab.cab")
    sides = (("PackGridwell", ["wine", args.program, "PackGridwell"], content),
             ("gcab -z", ["gcab", "-c", "-z", gcab_cab] + files, content))
    print("tree: %d files, %.1f MiB; load average at the start: %.2f %.2f %.2f" %
          ((len(files), unpacked / 2**20) + os.getloadavg()), flush=True)

    results = {name: [] for name, _, _ in sides}
    for pair in range(1, args.pairs + 1):
        for name, command, cwd in sides:
            # Each side writes its output anew.
            if name == "PackGridwell":
                shutil.rmtree(download, ignore_errors=True)
                publish_updater(download, work)
            elif os.path.exists(gcab_cab):
                os.remove(gcab_cab)
            wall, cpu, peak = measure(command, cwd)
            results[name].append((wall, cpu, peak))
            print("pair %d %-12s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB" % (pair, name, wall, cpu, peak),
                  flush=True)
        ours = os.path.join(download, "Tarn_Gridwell_2023_Download_List.txt")
        if not os.path.exists(ours):
            sys.exit("PackGridwell published no download list (a message box may wait in the prefix)")

    with open(os.path.join(download, "Tarn_Gridwell_2023_Download_List.txt"), "rb") as f:
        packages = [n for n in f.read().decode("cp1252").split("\r\n") if n.startswith("Tarn_Gridwell")]
    ours_size = 0
    for name in packages:
        path = os.path.join(download, name)
        subprocess.run(["cabextract", "-q", "-t", path], check=True, stdout=subprocess.DEVNULL)
        ours_size += os.path.getsize(path)
    for name, _, _ in sides:
        wall, cpu, peak = (statistics.median(r[i] for r in results[name]) for i in range(3))
        print("median %-12s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB  %6.1f MB/s" %
              (name, wall, cpu, peak, unpacked / 1e6 / wall))
    for i, what in enumerate(("wall time", "cpu time", "peak memory")):
        ratios = [a[i] / b[i] for a, b in zip(results["PackGridwell"], results["gcab -z"])]
        print("%s PackGridwell / gcab per pair: median %.2f (min %.2f, max %.2f, of %d pairs)%s" %
              (what, statistics.median(ratios), min(ratios), max(ratios), len(ratios),
               " (goal: at most 1.00)" if i == 0 else ""))
    print("packages: %d, %.1f MiB; gcab cabinet %.1f MiB" %
          (len(packages), ours_size / 2**20, os.path.getsize(gcab_cab) / 2**20))
    print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
