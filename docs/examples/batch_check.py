#!/usr/bin/env python3
"""Check a batch of boards, one after the other: the part answers, the supply is in range, the
inclination is steady. One line per board, and status 1 when any failed.

    python3 batch_check.py usb:0 usb:1 usb:2      # the adapters Ezusb-0 to Ezusb-2
    python3 batch_check.py sim sim:unplug@40      # the simulated board, one that loses its adapter
"""

import statistics
import sys

import qvin27319 as q


def open_board(name):
    if name.startswith("usb:"):
        return q.Board.usb(int(name[4:]))
    if name.startswith("lpt:"):
        return q.Board.lpt(int(name[4:], 16))
    if name == "sim" or name.startswith("sim:"):
        return q.Board.sim(angle=12.5, faults=name[4:], virtual_clock=True)
    raise SystemExit(f"batch_check: '{name}' is no board (usb:N, lpt:ADDR, sim or sim:FAULTS)")


def check(board):
    info = board.info()
    if info["name"] != "QVIN27319":
        return f"not a QVIN27319 ({info['name']})"
    supply = board.read("Supply_Out")
    if not 3.0 <= supply <= 3.6:
        return f"supply {supply:.3f} V out of 3.0 to 3.6 V"
    angles = [p.incl_360 for p in board.watch(count=50, delay_ms=10)]
    if statistics.pstdev(angles) > 0.5:
        return f"inclination unsteady ({statistics.pstdev(angles):.2f} dgr)"
    return None


def main(names):
    failed = 0
    for name in names:
        try:
            why = check(open_board(name))
        except q.QvinError as e:
            why = f"{type(e).__name__}: {e}"
        failed += why is not None
        print(f"{name}\t{'FAIL ' + why if why else 'PASS'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["usb:0"]))
