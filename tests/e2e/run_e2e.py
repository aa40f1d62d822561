#!/usr/bin/env python3
"""Runs end-to-end test modules of this folder (unittest, standard library).

  run_e2e.py --build-dir <build> --source-dir <sources> [--nginx <path>] <module>... [-k <pattern>]

Each module starts its own nginx and devserver on free ports of 127.0.0.1
and runs the real program and the test helpers from <build> under Wine, in
the prefix named by WINEPREFIX (default <build>/wineprefix).
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--nginx", default="nginx")
    parser.add_argument("-k", dest="patterns", action="append", default=[],
                        help="run only tests whose name holds this text")
    parser.add_argument("modules", nargs="+")
    args = parser.parse_args()
    harness.configure(args.build_dir, args.source_dir, args.nginx)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{p}*" for p in args.patterns]
    suite = unittest.TestSuite(loader.loadTestsFromName(name) for name in args.modules)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
