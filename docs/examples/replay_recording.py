#!/usr/bin/env python3
"""Answer from a recording made at the bench (QVIN_TRACE=bench.trace qvin-cli --usb watch
--count 20), anywhere later: the same reads give the same answers, and the replay says where
the session went further than the recording.

    python3 replay_recording.py bench.trace [PASSES]
"""

import sys

import qvin27319 as q


def main(path, passes=20):
    board = q.Board.replay(path)
    try:
        for p in board.watch(count=passes, delay_ms=25):
            print(f"{p.index}\t{p.supply_out:.3f}\t{p.temp_out:.2f}\t{p.incl_360:.2f}\t{'New' if p.new_data else 'Old'}")
    except q.ReplayStoppedError as e:
        print("replay stopped:", e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    sys.exit(main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 20))
