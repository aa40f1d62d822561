#!/usr/bin/env python3
"""Packing benchmark: MakeCab.exe (under Wine, MSZIP on every core) against
`gcab -c -z` on the same mixed tree, alternating (ours, gcab, ours, gcab,
...). Prints wall time, CPU time (user + system) and peak memory (resident
set) of each run, the medians, the cabinet sizes and the ratios; checks that
our cabinet unpacks (cabextract -t).

  pack_bench.py --content DIR --work DIR --makecab EXE [--rounds N]

The tree is read once beforehand, so both sides read it from the cache.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def list_files(content):
    files = []
    for folder, _, names in os.walk(content):
        files += [os.path.relpath(os.path.join(folder, n), content) for n in names]
    return sorted(files)


def write_directive(path, content, cabinet, files):
    """What the packing side writes: groups by folder, full paths quoted."""
    groups = {}
    for relative in files:
        folder = os.path.dirname(relative)
        groups.setdefault("\\" + folder.replace("/", "\\"), []).append(relative)
    lines = [".OPTION EXPLICIT", ".Set DiskDirectoryTemplate=", '.Set CabinetNameTemplate="%s"' % winpath(cabinet),
             ".Set MaxDiskSize=2147483648", ".Set Cabinet=on", ".Set Compress=on"]
    for key in sorted(groups, key=str.lower):
        lines.append('.Set DestinationDir="%s"' % key)
        lines += ['"%s"' % winpath(os.path.join(content, r)) for r in groups[key]]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("cp1252"))


def windows_process(marker):
    """The pid of the Windows process whose command line holds `marker`:
    Wine starts it detached from the `wine` launcher."""
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if marker.encode() in f.read() and b"MakeCab.exe" in open("/proc/%s/comm" % pid, "rb").read():
                        return pid
            except OSError:
                pass
    return None


def sample(pid, last):
    """CPU seconds and peak resident MiB of a running process (`last` once it ended)."""
    try:
        with open("/proc/%s/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        with open("/proc/%s/status" % pid) as f:
            peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
    except (OSError, StopIteration):
        return last
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks, peak / 1024


def measure(command, cwd, marker=None):
    """Wall seconds, CPU seconds and peak resident MiB of one run; with a
    marker, of the Windows process that holds it in its command line."""
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
    figures = (0.0, 0.0)
    pid = None
    while marker and process.poll() is None:
        pid = pid or windows_process(marker)
        if pid:
            figures = sample(pid, figures)
        time.sleep(0.05)
    if marker:
        returncode = process.wait()
    else:
        _, status, usage = os.wait4(process.pid, 0)
        returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    error = process.stderr.read().decode("utf-8", "replace")
    process.stderr.close()
    if returncode != 0:
        sys.exit("%s failed (%d): %s" % (command[0], returncode, error))
    if marker:
        return (wall,) + figures
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--content", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--makecab", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    content = os.path.abspath(args.content)
    files = list_files(content)
    unpacked = sum(os.path.getsize(os.path.join(content, f)) for f in files)
    for f in files:
        with open(os.path.join(content, f), "rb") as handle:
            while handle.read(1 << 20):
                pass

    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    ours_cab = os.path.join(args.work, "ours.cab")
    gcab_cab = os.path.join(args.work, "gcab.cab")
    directive = os.path.join(args.work, "directive.txt")
    write_directive(directive, content, ours_cab, files)
    sides = {
        "MakeCab": (["wine", args.makecab, "/f", winpath(directive)], args.work, ours_cab, winpath(directive)),
        "gcab -z": (["gcab", "-c", "-z", gcab_cab] + files, content, gcab_cab, None),
    }
    results = {name: [] for name in sides}
    for run in range(1, args.rounds + 1):
        for name, (command, cwd, cabinet, marker) in sides.items():
            if os.path.exists(cabinet):
                os.remove(cabinet)
            wall, cpu, peak = measure(command, cwd, marker)
            results[name].append((wall, cpu, peak))
            print("run %d %-8s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB" % (run, name, wall, cpu, peak),
                  flush=True)

    subprocess.run(["cabextract", "-q", "-t", ours_cab], check=True, stdout=subprocess.DEVNULL)
    print("tree: %d files, %.1f MiB" % (len(files), unpacked / 2**20))
    medians = {}
    for name, (_, _, cabinet, _) in sides.items():
        wall, cpu, peak = (statistics.median(r[i] for r in results[name]) for i in range(3))
        medians[name] = wall
        print("median %-8s wall %7.2f s  cpu %7.2f s  peak %7.1f MiB  cabinet %7.1f MiB  %6.1f MB/s" %
              (name, wall, cpu, peak, os.path.getsize(cabinet) / 2**20, unpacked / 1e6 / wall))
    print("wall time MakeCab / gcab: %.2f (goal: at most 1.00)" % (medians["MakeCab"] / medians["gcab -z"]))
    print("cabinet size MakeCab / gcab: %.3f" % (os.path.getsize(ours_cab) / os.path.getsize(gcab_cab)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
