"""The qvin27319 module on the simulated board: each call, its errors, Ctrl-C, and that it
gives what qvin-cli gives on the same board and seed."""

import errno
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pytest

import qvin27319 as q

CLI = os.environ.get("QVIN_CLI", "qvin-cli")


def cli(*args, env=None, cwd=None):
    e = dict(os.environ)
    e.update(env or {})
    return subprocess.run([CLI, *args], env=e, cwd=cwd, capture_output=True, text=True, timeout=60)


@pytest.fixture
def board(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return q.Board.sim(angle=30, virtual_clock=True, noise="off")


def test_reads_writes_and_conversions(board):
    assert board.read("Incl_360") == pytest.approx(30.0)
    assert board.read("incl_out") == pytest.approx(30.0)  # any case, either name
    r = board.read_raw("Supply_Out")
    assert r.name == "Supply_Out" and r.index == 2
    assert r.value == pytest.approx(r.count * 0.00122, rel=1e-6)
    assert r.new_data is not None and r.error is not None
    assert board.read_raw("Product").new_data is None  # no flags of its own
    board.write("Incl_Null", -5)
    assert board.read_raw("Incl_Null").count == -5
    board.write(13, 7)  # by index
    assert board.read_raw("13").count == 7
    # Several in one exchange: what one read at a time gives.
    names = ["Incl_360", "Supply_Out", "Product", "Incl_Null", 13, "Temp_Out"]
    assert board.read_many(names) == pytest.approx([board.read(n) for n in names])
    many = board.read_many(["Product", "Status"], raw=True)
    assert [r.name for r in many] == ["Product", "Status"] and many[0].count == 27319
    assert board.read_many([]) == []
    with pytest.raises(q.BadInputError, match="cannot be read"):
        board.read_many(["Product", "Command"])
    with pytest.raises(q.BadInputError, match="a list of registers"):
        board.read_many("Product")
    for not_a_register in (True, False, 1.0, None):
        with pytest.raises(q.BadInputError, match="a register is a name or an index"):
            board.read(not_a_register)
    with pytest.raises(q.BadInputError):
        board.write(True, 1)


def test_part_registers_and_tables(board):
    info = board.info()
    assert info["name"] == "QVIN27319" and info["rotation"] == "Normal"
    rows = board.registers()
    assert len(rows) == 65
    assert rows[1]["name"] == "Supply_Out" and rows[1]["unit"] == "V" and not rows[1]["writable"]
    table = board.user_registers()
    assert table.startswith("Name\t\tAddr\tSetting\r\n") and "Incl_Null" in table
    assert board.adapters()[0]["device"] == "Ezusb-0"
    # The bench: a read request for Product, then a word that clocks the answer out.
    assert board.spi([0x5600, 0]) == [0, 27319]


def test_watch_is_paced_and_time_stamped(board):
    passes = list(board.watch(count=5, delay_ms=40))
    assert [p.index for p in passes] == [1, 2, 3, 4, 5]
    gaps = [b.time - a.time for a, b in zip(passes, passes[1:])]
    assert all(40e-3 <= g < 45e-3 for g in gaps), gaps
    assert passes[0].time < 5e-3, "the first pass comes at once, the pause is between passes"
    assert all(p.incl_360 == pytest.approx(30.0) for p in passes)
    assert passes[0].values[3] == passes[0].incl_360


def test_capture_keeps_each_new_sample_once_and_counts_the_missed(board):
    np = pytest.importorskip("numpy")
    c = board.capture(200, outputs="incl_360")
    assert set(c) == {"time", "incl_360", "alarm", "status", "missed", "kept", "missed_total", "sample_period_ms", "seconds", "stopped"}
    assert isinstance(c["incl_360"], np.ndarray) and c["incl_360"].shape == (200,)
    assert c["alarm"].dtype == bool and not c["stopped"]
    assert np.all(np.diff(c["time"]) > 0) and np.allclose(c["incl_360"], 30.0)
    # Every sample the part made between the first and the last is kept or counted missed
    # (the time stamps say when each was read, up to a read after it appeared: one either way).
    period = c["sample_period_ms"] / 1000
    assert period == pytest.approx(9 * 0.12207e-3, rel=1e-6)
    made = round((c["time"][-1] - c["time"][0]) / period) + 1
    assert abs(c["kept"] + c["missed_total"] - made) <= 1
    assert c["missed_total"] == int(c["missed"].sum())


def test_capture_puts_the_parts_sample_period_back_and_reads_only_what_it_is_asked(board):
    own = board.read_raw("Smpl_Prd").count
    c = board.capture(seconds=0.5, outputs=["temp_out", "supply_out"], sample_period_ms=20)
    assert list(k for k in c if k in ("supply_out", "aux_adc", "temp_out", "incl_360", "incl_180")) == ["temp_out", "supply_out"]
    assert c["sample_period_ms"] == pytest.approx(5 * 3.784, rel=1e-6)  # the nearest the part can make
    assert 24 <= c["kept"] <= 28 and c["missed_total"] == 0
    assert board.read_raw("Smpl_Prd").count == own
    with pytest.raises(q.BadInputError, match="no output 'tilt'"):
        board.capture(10, outputs="tilt")
    with pytest.raises(q.BadInputError, match="either count or seconds"):
        board.capture()
    with pytest.raises(TypeError):
        board.capture(10, delay_ms=5)  # the old pacing is gone: a capture reads as fast as it can


CAPTURE_CTRL_C = """
import qvin27319 as q
b = q.Board.sim(angle=30)
print("ready", flush=True)
c = b.capture(seconds=60, outputs="incl_360")
print("stopped" if c["stopped"] else "ran out", c["kept"], len(c["time"]), c["missed_total"], flush=True)
print("still reads", round(b.read("Supply_Out"), 1))
"""


def test_ctrl_c_ends_a_capture_with_what_it_collected(tmp_path):
    p = subprocess.Popen([sys.executable, "-c", CAPTURE_CTRL_C], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp_path,
                         env=dict(os.environ))
    assert p.stdout.readline().startswith("ready")
    time.sleep(1.0)
    start = time.monotonic()
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=30)
    assert p.returncode == 0, err
    words = out.split()
    assert words[0] == "stopped" and int(words[1]) == int(words[2]) > 100, out
    assert "still reads 3.3" in out
    assert time.monotonic() - start < 5


def test_what_the_cli_captures_python_reads_by_the_same_names(tmp_path):
    r = cli("--sim", "capture", "--count", "50", "--outputs", "incl_360,temp_out", "--out", "c.csv", env={"QVIN_SIM_ANGLE": "30"},
            cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    c = q.read_capture(str(tmp_path / "c.csv"))
    assert list(c["incl_360"]) == pytest.approx([30.0] * 50, abs=0.2) and len(c["temp_out"]) == 50
    assert set(c) >= {"time", "incl_360", "temp_out", "alarm", "missed"}
    b = q.Board.sim(angle=30, virtual_clock=True, noise="off")
    mine = b.capture(20, outputs=["incl_360"])
    q.write_capture(str(tmp_path / "p.csv"), mine)
    r = cli("noise", str(tmp_path / "p.csv"))
    assert r.returncode == 0 and "20 samples, no gap" in r.stdout, r.stdout + r.stderr
    back = q.read_capture(str(tmp_path / "p.csv"))
    assert list(back["time"]) == pytest.approx(list(mine["time"])) and list(back["missed"]) == list(mine["missed"])


def test_errors_are_exceptions_with_the_programs_messages(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert issubclass(q.ReplayStoppedError, q.NoInterfaceError) and issubclass(q.FileError, q.QvinError)
    b = q.Board.sim(virtual_clock=True)
    with pytest.raises(q.BadInputError, match=r"unknown register 'Bogus'") as e:
        b.read("Bogus")
    assert e.value.code == 1
    with pytest.raises(q.BadInputError, match="cannot be read"):
        b.read("Command")
    with pytest.raises(q.BadInputError, match="out of range"):
        b.write("Incl_Null", 70000)
    with pytest.raises(q.BadInputError, match=r'fault rule "bogus@1"'):
        q.Board.sim(faults="bogus@1")
    lost = q.Board.sim(faults="send-fail@5+", virtual_clock=True)
    with pytest.raises(q.NoInterfaceError) as e:
        for _ in range(10):
            lost.read("Supply_Out")
    assert e.value.code == 2 and "Error Writing SPI" in lost.messages
    with pytest.raises(q.FileError, match="the recording missing.trace does not exist") as e:
        q.Board.replay("missing.trace")
    assert e.value.code == 3
    with pytest.raises(q.BadInputError, match="Ezusb-4"):
        q.Board.usb(4)


def test_hostile_arguments_are_bad_input_and_arguments_win_over_the_environment(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    b = q.Board.sim(virtual_clock=True, noise="off")
    for ms in (float("nan"), float("inf"), 1e300, -1.0):
        with pytest.raises(q.BadInputError, match="ms must be a number from 0 to 86400000"):
            b.pause(ms)
    for index in (2**70, -(2**70)):
        with pytest.raises(q.BadInputError, match="no register with index"):
            b.read(index)
    # A bad variable left in the environment: an argument in its place wins, and the board
    # made without one says which variable is wrong.
    monkeypatch.setenv("QVIN_SIM_NOISE", "bogus")
    monkeypatch.setenv("QVIN_SIM_ANGLE", "nan")
    quiet = q.Board.sim(noise="off", angle=10, virtual_clock=True)
    assert quiet.read("Incl_360") == pytest.approx(10, abs=0.01)
    with pytest.raises(q.BadInputError, match="QVIN_SIM_ANGLE"):
        q.Board.sim(noise="off", virtual_clock=True)
    with pytest.raises(q.BadInputError, match="QVIN_SIM_NOISE"):
        q.Board.sim(angle=10, virtual_clock=True)
    monkeypatch.setenv("QVIN_SIM_FAULTS", "bogus@1")
    assert q.Board.sim(noise="off", angle=10, faults="", virtual_clock=True).read("Product") == 27319


def test_an_adapter_that_cannot_be_had_is_named_in_the_error(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(q.NoInterfaceError, match=r"Ezusb-0: no permission to open it \(install the udev rule"):
        q.Board.sim(faults="no-permission@1+", virtual_clock=True).read("Product")
    with pytest.raises(q.NoInterfaceError, match=r"Ezusb-0: busy \(another program has it open\)"):
        q.Board.sim(faults="busy@1+", virtual_clock=True).adapters()
    # A parallel port by its device node: a name that is none is refused before anything opens.
    with pytest.raises(q.BadInputError, match=r"'/dev/sda' is no parallel port device"):
        q.Board.lpt("/dev/sda")


def test_threads_share_a_board_each_exchange_whole(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    b = q.Board.sim(angle=30, noise="off")  # the real clock: threads truly overlap
    # The product word exactly; the supply within the count or two it wanders by (an answer
    # meant for another register is thousands of counts away).
    expected = {"Product": 27319, "Supply_Out": b.read("Supply_Out")}
    tolerance = {"Product": 0, "Supply_Out": 0.0025}
    wrong, errors = [], []

    def reader(name):
        try:
            for _ in range(400):
                v = b.read(name)
                if abs(v - expected[name]) > tolerance[name]:
                    wrong.append((name, v))
        except q.QvinError as e:
            errors.append(e)

    def writer():
        try:
            for i in range(300):
                b.write("Alm_Mag1", i)
                if b.read("Alm_Mag1") != i:
                    wrong.append(("Alm_Mag1", i))
                assert b.read_many(["Product", "Alm_Mag1"]) == [27319, i]
        except (q.QvinError, AssertionError) as e:
            errors.append(e)

    def watcher():
        try:
            for p in b.watch(count=100, delay_ms=0):
                if abs(p.supply_out - expected["Supply_Out"]) > tolerance["Supply_Out"]:
                    wrong.append(("watch", p.supply_out))
        except q.QvinError as e:
            errors.append(e)

    threads = [threading.Thread(target=reader, args=(n,)) for n in ("Product", "Supply_Out", "Product")]
    threads += [threading.Thread(target=writer), threading.Thread(target=watcher)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and wrong == []  # 1,200 reads, 900 writes and reads, 100 passes


def test_a_board_closes_and_says_so_after(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with q.Board.sim(virtual_clock=True, noise="off") as b:
        assert b.read("Product") == 27319 and not b.closed
    assert b.closed
    for call in (lambda: b.read("Product"), lambda: b.info(), lambda: b.pause(1), lambda: b.capture(count=1), b.registers):
        with pytest.raises(q.NoInterfaceError, match="the board is closed"):
            call()
    b.close()  # again: nothing
    # Recorded while open, the trace is whole once closed (not only at exit).
    monkeypatch.setenv("QVIN_TRACE", str(tmp_path / "closed.trace"))
    t = q.Board.sim(virtual_clock=True)
    t.read("Product")
    t.close()
    assert "usb-out" in (tmp_path / "closed.trace").read_text()


def test_values_are_the_parts_single_precision_numbers_in_their_shortest_form(board):
    # The float the part's scaling gives, as the shortest decimal that reads back as it.
    assert repr(board.read("Incl_360")) == "30.0"
    assert repr(board.info()["revision"]) == "1.3"
    scales = {r["name"]: r["scale"] for r in board.registers()}
    assert repr(scales["Supply_Out"]) == "0.00122"
    assert repr(board.read_raw("Supply_Out").value) == repr(board.read("Supply_Out")) == "3.3000998"
    assert [repr(v) for v in next(iter(board.watch(count=1))).values][3:] == ["30.0", "30.0"]


def test_every_listed_register_is_read_by_its_name_and_a_read_only_write_warns(board):
    rows = board.registers()
    readable = [r["name"] for r in rows if r["readable"]]
    assert len(rows) == 65 and len(readable) == 64
    assert "N/A" not in readable and "-" not in readable and "#9" in readable
    for name in readable:
        board.read(name)
    every = board.read_all()
    assert list(every) == readable
    assert every["Product"] == 27319 and every["Incl_Out"] == board.read("Incl_360") == 30.0
    assert board.read("#13") == board.read("Incl_Null")
    with pytest.warns(UserWarning, match="Supply_Out is read-only; the chip may ignore the write"):
        board.write("Supply_Out", 1)


def test_what_is_there_is_listed_and_a_board_not_there_says_why_at_once(tmp_path):
    listed = q.adapters()  # nothing plugged in is a list too, not an error
    assert isinstance(listed, list) and all("device" in a for a in listed)
    # A port that cannot be had: at once, with the cause the program gave.
    with pytest.raises(q.NoInterfaceError, match=r"cannot be used \[The required I/O drivers could not be installed\. "):
        q.Board.lpt(0x2F8, settings=str(tmp_path / "none.cfg"))
    # An SPI device that is not there: at once, naming it.
    with pytest.raises(q.NoInterfaceError, match=r"^/dev/spidev9\.9: No such file or directory"):
        q.Board.spidev("/dev/spidev9.9", settings=str(tmp_path / "none.cfg"))
    # An FTDI adapter that is not there is named by its serial number (or USB is missing).
    with pytest.raises(q.NoInterfaceError, match=r"^(no FTDI adapter with the serial number NOPE1 found|USB is not available)"):
        q.Board.ftdi("NOPE1", settings=str(tmp_path / "none.cfg"))
    with pytest.raises(q.BadInputError, match="letters and digits"):
        q.Board.ftdi("a;b")
    run = subprocess.run([sys.executable, "-m", "qvin27319", "--sim"], capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0].startswith("Ezusb-0\tKAPPA\t") and [l.split("\t")[0] for l in lines[1:]] == [
        "Supply_Out", "Aux_ADC", "Temp_Out", "Incl_360", "Incl_180"]
    bad = subprocess.run([sys.executable, "-m", "qvin27319", "--lpt", "/dev/sda"], capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert bad.returncode == 1 and "'/dev/sda' is no parallel port device" in bad.stderr
    helped = subprocess.run([sys.executable, "-m", "qvin27319", "--help"], capture_output=True, text=True, timeout=60)
    assert helped.returncode == 0 and "--lpt" in helped.stdout


def test_the_module_names_its_version_and_its_objects(board, tmp_path):
    cmake = (pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    assert f"project(qvin27319 VERSION {q.__version__} " in cmake
    import importlib.metadata
    assert importlib.metadata.version("qvin27319") == q.__version__  # the package's metadata too
    board.read("Product")
    assert repr(board) == "<Board sim on Ezusb-0>"
    r = board.read_raw("Product").to_dict()
    assert r["name"] == "Product" and r["count"] == 27319 and r["new_data"] is None
    p = next(iter(board.watch(count=1))).to_dict()
    assert p["index"] == 1 and p["incl_360"] == 30.0 and set(p) >= {"time", "status", "alarm", "new_data"}
    import datetime
    info = board.info()
    assert isinstance(info["date"], datetime.date) and info["date_fields"] == (info["date"].year, info["date"].month, info["date"].day)
    board.write("Mon_Year", 0)  # a month 0: no date, the fields as read
    assert board.info()["date"] is None and board.info()["date_fields"][1] == 0
    board.close()
    assert repr(board) == "<Board sim, closed>"
    with pytest.raises(OSError, match="No such file or directory") as e:
        q.read_log(str(tmp_path / "missing.log"))
    assert isinstance(e.value, q.FileError) and e.value.code == 3
    # With the system's errno where there is one, the message still the program's own; none
    # where the file was read but is not what it should be.
    assert e.value.errno == errno.ENOENT and str(e.value).endswith("missing.log: No such file or directory")
    with pytest.raises(q.FileError, match="not a data log") as e:
        q.read_log(str(tmp_path))  # a folder: the program's own refusal, no system error
    assert e.value.errno is None


def test_the_doctor_tells_what_stands_between_the_machine_and_a_read(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    d = q.Board.sim(virtual_clock=True, faults="no-permission@1+").doctor()
    usb = [f for f in d["findings"] if f["topic"] == "USB" and not f["ok"]]
    assert not d["reachable"] and "no permission" in usb[0]["text"] and "udev rule" in usb[0]["fix"]
    assert q.Board.sim(virtual_clock=True).doctor()["reachable"]
    assert {f["topic"] for f in q.doctor()["findings"]} >= {"USB", "udev rule", "groups", "ppdev", "settings"}


def test_the_readmes_python_runs_as_written(tmp_path):
    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    block = readme[readme.index("## Python"):]
    code = block[block.index("```python\n") + 10:]
    code = code[:code.index("```")]
    r = cli("--sim", "watch", "--count", "5", "--delay", "10", "--log", "Datalog_1.txt", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    run = subprocess.run([sys.executable, "-c", code + "\nassert log['runs'] and len(c['incl_360']) > 1000 and len(a['tau']) > 3 and len(s['f']) > 16\n"],
                         capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert run.returncode == 0, run.stderr


def test_a_board_stays_with_the_process_that_opened_it(tmp_path):
    r = cli("--sim", "read", "Product", "Product", "Product", env={"QVIN_TRACE": str(tmp_path / "f.trace")}, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    b = q.Board.replay(str(tmp_path / "f.trace"))
    pid = os.fork()
    if pid == 0:  # the child: refused, and the recording's position left alone
        code = 1
        try:
            b.read_many(["Product"] * 3)
        except q.NoInterfaceError as e:
            code = 0 if "after fork() open another one in this process" in str(e) else 2
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
    assert b.read_many(["Product"] * 3) == [27319, 27319, 27319]


@pytest.mark.skipif(os.geteuid() != 0, reason="only root may raise a thread's priority")
def test_a_pause_leaves_the_callers_thread_at_its_own_level(board):
    before = os.getpriority(os.PRIO_PROCESS, 0)
    q.Board.sim(noise="off").pause(5)
    assert os.getpriority(os.PRIO_PROCESS, 0) == before


def test_replay_answers_as_recorded_then_stops(tmp_path):
    r = cli("--sim", "read", "Product", env={"QVIN_TRACE": str(tmp_path / "r.trace")}, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    b = q.Board.replay(str(tmp_path / "r.trace"))
    assert b.kind == "replay"
    assert b.read_raw("Product").count == 27319
    with pytest.raises(q.ReplayStoppedError, match="has come to the end of the recording") as e:
        b.read("Product")
    assert e.value.code == 2


def test_the_same_board_and_seed_give_what_the_cli_gives(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    names = ["Incl_Out", "Product", "Incl_180_Out", "Rev_Day"] * 5
    # No sensor noise: its draws follow the sample, which follows the clock.
    env = {"QVIN_SIM_ANGLE": "30", "QVIN_SIM_FAULTS": "bit-flip%40", "QVIN_SIM_SEED": "7", "QVIN_SIM_NOISE": "off"}
    r = cli("--sim", "read", *names, env=env, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    # Bit 15, the new-data flag, follows the clock (a new sample every 1.1 ms), which no two
    # runs share; the other fifteen bits, flips included, follow the board and the seed.
    from_cli = [int(line.split("raw=")[1].split()[0], 16) & 0x7FFF for line in r.stdout.splitlines()]
    b = q.Board.sim(angle=30, faults="bit-flip%40", seed=7, noise="off")
    from_python = [r.raw & 0x7FFF for r in b.read_many(names, raw=True)]  # several at once, as the CLI reads them
    assert from_python == from_cli
    assert len(set(from_cli[0::4])) > 1  # the flips struck: the comparison means something
    dump = cli("--sim", "dump", env={"QVIN_SIM_ANGLE": "30", "QVIN_SIM_NOISE": "off"}, cwd=tmp_path)
    assert q.Board.sim(angle=30).user_registers().replace("\r\n", "\n") == dump.stdout  # text mode reads CR LF as LF


def test_read_log(tmp_path):
    r = cli("--sim", "watch", "--count", "7", "--delay", "10", "--log", "run.log", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    log = q.read_log(str(tmp_path / "run.log"))
    assert log["skipped"] == 0 and len(log["runs"]) == 1
    run = log["runs"][0]
    assert run["loop_delay_ms"] == 10 and list(run["index"]) == list(range(1, 8))
    assert len(run["incl_360"]) == 7
    with pytest.raises(q.FileError, match="No such file"):
        q.read_log(str(tmp_path / "none.log"))


def test_long_waits_let_other_threads_run(board):
    real = q.Board.sim()
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    t = threading.Thread(target=count)
    t.start()
    real.pause(300)
    stop.set()
    t.join()
    assert len(ticks) > 50


def test_a_signal_ends_a_long_pause_between_its_slices():
    real = q.Board.sim()

    class Stop(Exception):
        pass

    def stop(signum, frame):
        raise Stop()

    old = signal.signal(signal.SIGUSR1, stop)
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGUSR1))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(Stop):
            real.pause(20000)
        took = time.monotonic() - start
    finally:
        timer.cancel()
        signal.signal(signal.SIGUSR1, old)
    assert took < 5, f"the 20 s pause went on for {took:.1f} s after the signal"


CTRL_C = r"""
import sys, qvin27319 as q
b = q.Board.sim()
n = 0
try:
    for p in b.watch(delay_ms=200):
        n += 1
        print("pass", n, flush=True)
except KeyboardInterrupt:
    print("stopped after", n, "passes;", "still reads", round(b.read("Supply_Out"), 1), flush=True)
    sys.exit(0)
sys.exit(3)
"""


def test_ctrl_c_stops_a_watch_cleanly(tmp_path):
    p = subprocess.Popen([sys.executable, "-c", CTRL_C], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=tmp_path,
                         env=dict(os.environ))
    assert p.stdout.readline().startswith("pass 1")
    p.stdout.readline()
    start = time.monotonic()
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=30)
    assert p.returncode == 0, err
    assert "stopped after" in out and "still reads 3.3" in out
    assert time.monotonic() - start < 5


def test_types_and_docs_for_editors():
    here = os.path.dirname(q.__file__)
    assert os.path.exists(os.path.join(here, "__init__.pyi")) and os.path.exists(os.path.join(here, "py.typed"))
    assert "units" in q.Board.read.__doc__ and "count" in q.Board.capture.__doc__


def test_allan_and_describe_give_the_published_values():
    # The frequency-stability literature's 1000-point test data.
    n, y = 1234567890, []
    for _ in range(1000):
        y.append(n / 2147483647)
        n = (16807 * n) % 2147483647
    assert f"{q.describe(y)['std_dev']:.6e}" == "2.884664e-01"
    a = q.allan(y, 1.0)
    by_tau = dict(zip(list(a["tau"]), list(a["adev"])))
    assert f"{by_tau[1.0]:.6e}" == "2.922319e-01"
    assert list(a["tau"]) == [1, 2, 4, 8, 16, 32, 64, 128]  # up to a quarter of the record
    assert all(lo < v < hi for lo, v, hi in zip(a["adev_lo"], a["adev"], a["adev_hi"]))
    assert list(a["alpha"]) == [0] * 8  # uniform random numbers: white
    assert list(a["n"])[:2] == [999, 997] and list(a["m"])[:3] == [1, 2, 4]
    # Uniform numbers are white noise of 1/sqrt(12) a reading: N = sigma sqrt(tau0), held
    # within its stated uncertainty, and no other term.
    n_term = a["terms"]["N"]
    assert abs(n_term["value"] - 12 ** -0.5) <= n_term["uncertainty"] < 0.05
    assert [k for k, v in a["terms"].items() if v is not None] == ["N"]
    assert a["terms_fit"]["points"] == 8 and a["terms_fit"]["fitted"] and not a["terms_fit"]["averaged"]
    assert q.allan(y[:100], 1.0)["terms_fit"]["fitted"] is False  # 5 octave points
    d = q.allan(y, 1.0, taus="decade", confidence=0.95)
    assert list(d["tau"]) == [1, 2, 4, 10, 20, 40, 100, 200]
    wide = dict(zip(list(d["tau"]), list(d["adev_hi"])))
    assert wide[1.0] > a["adev_hi"][0]  # 95 % is wider than one sigma
    with pytest.raises(q.BadInputError):
        q.allan(y, 0)
    # The other deviations by name: on white noise the modified Allan deviation is the
    # Allan deviation at m = 1 and falls faster after (tau^-3/2 against tau^-1/2).
    md = q.allan(y, 1.0, deviation="mdev")
    assert md["deviation"] == "mdev" and "adev" not in md
    assert md["mdev"][0] == pytest.approx(a["adev"][0])
    assert md["mdev"][5] < a["adev"][5]
    with pytest.raises(q.BadInputError, match="adev, oadev, mdev"):
        q.allan(y, 1.0, deviation="bdev")
    with pytest.raises(q.BadInputError, match="without missing samples"):
        q.allan(y[:100] + [float("nan")] + y[100:], 1.0, deviation="hdev")
    with pytest.raises(q.BadInputError, match="octave, decade or all"):
        q.allan(y, 1.0, taus="weekly")
    with pytest.raises(q.BadInputError, match="between 0 and 1"):
        q.allan(y, 1.0, confidence=68.3)


def test_the_spectrum_of_white_noise_lies_at_its_density():
    import numpy as np
    rng = np.random.default_rng(5)
    tau0, sigma = 0.002, 0.5
    y = rng.normal(0.0, sigma, 100_000)
    s = q.psd(y, tau0)
    assert s["segment_length"] == 16384 and s["segments"] == 11
    assert s["f"][-1] == pytest.approx(0.5 / tau0)
    # One-sided: 2 sigma^2 tau0 per hertz; summed over the band, the variance.
    assert s["floor"] == pytest.approx(np.sqrt(2 * sigma**2 * tau0), rel=0.05)
    assert np.sum(s["psd"]) * s["f"][1] == pytest.approx(sigma**2, rel=0.03)
    assert np.allclose(s["asd"] ** 2, s["psd"])
    with pytest.raises(q.BadInputError, match="too few samples for a spectrum"):
        q.psd([1.0] * 10, 1.0)


def test_the_averaging_sweep_lowers_the_noise(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    b = q.Board.sim(angle=30, virtual_clock=True, noise="white=0.4,walk=0,drift=0")
    spread = []
    for code in (3, 5):
        b.write("Avg_Cnt", code)
        b.pause(1000)
        spread.append(q.describe([p.incl_360 for p in b.watch(count=400, delay_ms=100)])["std_dev"])
    assert 1.8 < spread[0] / spread[1] < 2.2
