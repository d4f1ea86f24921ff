#!/usr/bin/env python3
"""What a register read from Python costs beside the same read from C++, on the simulated
board, in one process: rounds of N reads each way, alternating, and the ratio of medians.

    PYTHONPATH=build/python python3 bench/python_read_overhead.py [ROUNDS] [N]
"""

import statistics
import sys
import time

import qvin27319 as q
from qvin27319 import _core


def main(rounds=11, n=2000):
    b = q.Board.sim(angle=30)
    b.read("Supply_Out")  # connect, warm up
    py, cpp = [], []
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(n):
            b.read("Supply_Out")
        py.append((time.perf_counter() - start) / n)
        cpp.append(_core._time_reads_in_cpp(b, "Supply_Out", n) / n)
    p, c = statistics.median(py), statistics.median(cpp)
    print(f"read from C++:    {c * 1e6:8.2f} us (median of {rounds} rounds of {n})")
    print(f"read from Python: {p * 1e6:8.2f} us")
    print(f"ratio Python/C++: {p / c:8.3f}  (spread of the Python rounds {min(py) * 1e6:.2f} to {max(py) * 1e6:.2f} us)")
    return 0


if __name__ == "__main__":
    sys.exit(main(*(int(a) for a in sys.argv[1:3])))
