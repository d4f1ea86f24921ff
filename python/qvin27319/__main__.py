"""python3 -m qvin27319: the USB adapters present, then the part's five outputs read once."""

import argparse
import sys

import qvin27319 as q


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m qvin27319",
        description="Lists the USB adapters present, then reads the QVIN27319's five outputs once.",
    )
    parser.add_argument("--sim", action="store_true", help="the simulated evaluation board")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--usb", type=int, metavar="N", help="the adapter Ezusb-N (default: the first one found)")
    where.add_argument("--lpt", metavar="PORT", help="the parallel port at hexadecimal PORT (378) or behind a device (/dev/parport0)")
    args = parser.parse_args(argv)
    try:
        if args.sim:
            board = q.Board.sim()
            found = board.adapters()
        else:
            found = q.adapters()
        for a in found:
            print(f"{a['device']}\t{a['kind']}\t{a['descriptor1']}\tfirmware {a['revision']}\tUSB {a['speed']}")
        if not found:
            print("no USB adapter found")
        if not args.sim:
            if args.lpt is not None:
                board = q.Board.lpt(args.lpt if "/" in args.lpt else int(args.lpt, 16))
            elif found or args.usb is not None:
                board = q.Board.usb(args.usb or 0)
            else:
                return 2
        with board:
            for name in ("Supply_Out", "Aux_ADC", "Temp_Out", "Incl_360", "Incl_180"):
                print(f"{name}\t{board.read(name)}")
    except q.QvinError as e:
        print(f"python3 -m qvin27319: {e}", file=sys.stderr)
        return e.code
    except ValueError:
        print(f"python3 -m qvin27319: bad port address '{args.lpt}' (hexadecimal, for example 378)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
