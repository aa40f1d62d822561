"""The packing benchmark's figures cover a whole process tree: processes
started through a double fork (as Wine starts every Windows process) that
outlive the launched one count with their CPU time, their memory at once and
their run time."""

import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("pack_bench", os.path.join(HERE, "..", "..", "bench", "pack_bench.py"))
pack_bench = importlib.util.module_from_spec(spec)
spec.loader.exec_module(pack_bench)

# Two detached grandchildren: each holds 48 MiB, spins 0.4 s of CPU time,
# then keeps its memory 0.6 s longer. The launched process ends at once.
TREE = """
import os, time
for _ in range(2):
    if os.fork() == 0:
        if os.fork() == 0:
            memory = bytearray(48 << 20)
            for i in range(0, len(memory), 4096):
                memory[i] = 1
            end = time.process_time() + 0.4
            while time.process_time() < end:
                pass
            time.sleep(0.6)
        os._exit(0)
"""


class TreeFigures(unittest.TestCase):
    def test_detached_grandchildren_count(self):
        pack_bench.become_subreaper()
        wall, cpu, peak = pack_bench.measure([sys.executable, "-c", TREE], HERE)
        self.assertGreaterEqual(wall, 1.0)
        self.assertGreaterEqual(cpu, 0.8)
        self.assertGreaterEqual(peak, 96)


if __name__ == "__main__":
    unittest.main()
