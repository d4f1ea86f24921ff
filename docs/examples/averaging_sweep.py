#!/usr/bin/env python3
"""Sweep the chip's averaging count (Avg_Cnt 0 to 8) and measure the inclination noise at each:
a table on standard output and, where matplotlib is installed, a plot.

    python3 averaging_sweep.py [--sim] [--samples N] [--png sweep.png]
"""

import argparse
import statistics
import sys

import qvin27319 as q


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sim", action="store_true", help="the simulated board (default: the first USB adapter)")
    ap.add_argument("--samples", type=int, default=200, help="readings per averaging count")
    ap.add_argument("--png", help="draw the noise against the count into this picture (needs matplotlib)")
    a = ap.parse_args()

    board = q.Board.sim(angle=30, virtual_clock=True) if a.sim else q.Board.usb(0)
    print("Avg_Cnt\tsamples averaged\tmean (dgr)\tstd dev (dgr)\tpeak-to-peak (dgr)")
    rows = []
    for code in range(9):
        board.write("Avg_Cnt", code)
        board.pause(100)  # let the filter settle on the new count
        # Readings apart, not every sample: a rolling average's neighbours share most samples.
        x = [p.incl_360 for p in board.watch(count=a.samples, delay_ms=10)]
        sd = statistics.stdev(x)
        rows.append((2 ** (code + 1), sd))
        print(f"{code}\t{2 ** (code + 1)}\t{statistics.fmean(x):.4f}\t{sd:.5f}\t{max(x) - min(x):.4f}")
    if a.png:
        try:
            import matplotlib

            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            print("matplotlib is not installed: no picture", file=sys.stderr)
            return 0
        n, sd = zip(*rows)
        plt.loglog(n, [max(s, 1e-6) for s in sd], "o-")
        plt.xlabel("samples averaged")
        plt.ylabel("inclination std dev (dgr)")
        plt.grid(True, which="both")
        plt.savefig(a.png, dpi=100)
        print("wrote", a.png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
