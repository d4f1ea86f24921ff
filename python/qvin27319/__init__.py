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
    BadInputError,
    Board,
    FileError,
    NoInterfaceError,
    Pass,
    QvinError,
    Reading,
    ReplayStoppedError,
    Watch,
    allan,
    describe,
    read_log,
)

__all__ = [
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
