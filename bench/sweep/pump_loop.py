#!/usr/bin/env python3
"""The first packaged pump calculation's 33 formulas as a plain Python loop, for the sweep
benchmark: the method of pump33_check.py (the pump sheet as first built, which pump33.tree
holds as a project) over a grid of flow and density, one case after the other on one core.
Prints the cases per second of process CPU time. Run: python3 pump_loop.py [CASES]"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pump33_check import pump  # noqa: E402


def main():
    cases = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
    side = max(1, int(cases ** 0.5))
    start = time.process_time()
    total = 0.0
    n = 0
    for i in range(side):
        q = 10 + 90 * i / max(1, side - 1)
        for j in range(side):
            r = pump(QNOR=q, RHO=900 + 100 * j / max(1, side - 1))
            total += r["轴功率"]
            n += 1
    seconds = time.process_time() - start
    print(f"{n} {seconds:.6f} {n / seconds:.0f} {total:.6g}")


if __name__ == "__main__":
    main()
