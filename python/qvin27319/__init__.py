"""The QVIN27319 evaluation program from Python: the same board, register map, read loop
and data log reader as qvin-eval and qvin-cli.

    import qvin27319 as q
    b = q.Board.sim()
    print(b.read("Incl_360"))
    for p in b.watch(count=5, delay_ms=25):
        print(p.time, p.incl_360)

Errors are QvinError and its subclasses, each with .code, qvin-cli's exit status for it:
BadInputError (1), NoInterfaceError (2, ReplayStoppedError among them), FileError (3).
"""

from ._core import (  # noqa: F401
    __version__,
    BadInputError,
    Board,
    FileError,
    NoInterfaceError,
    Pass,
    QvinError,
    Reading,
    ReplayStoppedError,
    Watch,
    adapters,
    doctor,
    allan,
    describe,
    psd,
    read_log,
)

_HEAD = "seconds since "
_UNITS = {"supply_out": "V", "aux_adc": "V", "temp_out": "dgrC", "incl_360": "dgr", "incl_180": "dgr"}


def _column(values, kind):
    try:
        import numpy

        return numpy.asarray(values, dtype=kind)
    except ImportError:
        return list(values)


def read_capture(path):
    """A capture file (qvin-cli capture --out, or write_capture) as capture() gives it:
    time, each output by the same key (incl_360 ...), alarm, status (where the file has it) and
    missed; start is when it began.
    A line that is not as a capture writes it raises FileError naming the line."""
    with open(path, newline="") as f:
        head = f.readline().rstrip("\r\n").split(",")
        if not head[0].startswith(_HEAD):
            raise FileError(f"{path}: line 1: no capture's header")
        keys = []
        for name in head[1:]:
            key = name.split(" (")[0].lower()
            if key in _UNITS and name == f"{key.upper()} ({_UNITS[key]})":
                keys.append(key)
            elif name in ("Alarm", "Missed", "New", "Status"):
                keys.append(name.lower())
            else:
                raise FileError(f"{path}: line 1: '{name[:20]}' is no column of a capture")
        cols = {k: [] for k in ["time"] + keys}
        for number, line in enumerate(f, start=2):
            line = line.rstrip("\r\n")
            if not line:
                continue
            fields = line.split(",")
            if len(fields) != len(keys) + 1:
                raise FileError(f"{path}: line {number}: {len(fields)} fields, not {len(keys) + 1}")
            try:
                values = [float(x) for x in fields]
            except ValueError:
                raise FileError(f"{path}: line {number}: a field is no number") from None
            if cols["time"] and not values[0] > cols["time"][-1]:
                raise FileError(f"{path}: line {number}: the time does not run forwards")
            for k, v in zip(["time"] + keys, values):
                cols[k].append(v)
    out = {"start": head[0][len(_HEAD):], "time": _column(cols["time"], float)}
    for k in keys:
        if k in _UNITS:
            out[k] = _column(cols[k], float)
    out["alarm"] = _column([v != 0 for v in cols.get("alarm", [])], bool)
    if "status" in cols:
        out["status"] = _column([int(v) for v in cols["status"]], "int32")
    out["missed"] = _column([int(v) for v in cols.get("missed", [0] * len(cols["time"]))], "int64")
    return out


def write_capture(path, capture, start="1970-01-01T00:00:00.000Z"):
    """Writes what capture() or read_capture() gave as qvin-cli capture writes it, so that
    qvin-cli noise and the Noise Analysis window read it."""
    keys = [k for k in _UNITS if k in capture]
    if not keys:
        raise BadInputError("the capture holds no output")
    start = capture.get("start", start)
    n = len(capture["time"])
    with open(path, "w", newline="") as f:
        status = capture.get("status")
        f.write(",".join([_HEAD + start] + [f"{k.upper()} ({_UNITS[k]})" for k in keys] + ["Alarm"] + (["Status"] if status is not None else [])
                         + ["Missed"]) + "\n")
        alarm = capture.get("alarm", [False] * n)
        missed = capture.get("missed", [0] * n)
        for i in range(n):
            row = [f"{float(capture['time'][i]):.9g}"] + [f"{float(capture[k][i]):.7g}" for k in keys] + ["1" if alarm[i] else "0"]
            if status is not None:
                row.append(str(int(status[i])))
            f.write(",".join(row + [str(int(missed[i]))]) + "\n")


__all__ = [
    "read_capture",
    "write_capture",
    "Board",
    "Pass",
    "Reading",
    "Watch",
    "read_log",
    "allan",
    "describe",
    "QvinError",
    "BadInputError",
    "NoInterfaceError",
    "ReplayStoppedError",
    "FileError",
]
