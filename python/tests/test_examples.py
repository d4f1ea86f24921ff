"""The examples in docs/examples run on the simulated board, so they never rot."""

import os
import subprocess
import sys

EXAMPLES = os.environ.get("QVIN_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "docs", "examples"))
CLI = os.environ.get("QVIN_CLI", "qvin-cli")


def run(name, *args, cwd):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *args], cwd=cwd, capture_output=True, text=True,
                          timeout=120, env=dict(os.environ))


def test_averaging_sweep(tmp_path):
    r = run("averaging_sweep.py", "--sim", "--samples", "30", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0].startswith("Avg_Cnt") and len(lines) == 10
    assert [line.split("\t")[1] for line in lines[1:]] == [str(2 ** (c + 1)) for c in range(9)]
    assert all(abs(float(line.split("\t")[2]) - 30.0) < 0.5 for line in lines[1:])


def test_batch_check_passes_a_good_board_and_names_a_lost_one(tmp_path):
    r = run("batch_check.py", "sim", "sim:unplug@40", cwd=tmp_path)
    assert r.returncode == 1
    good, lost = r.stdout.splitlines()
    assert good == "sim\tPASS"
    assert lost.startswith("sim:unplug@40\tFAIL NoInterfaceError")


def test_replay_of_a_recording(tmp_path):
    rec = subprocess.run([CLI, "--sim", "watch", "--count", "5", "--delay", "25"], cwd=tmp_path, capture_output=True, text=True,
                         env=dict(os.environ, QVIN_TRACE=str(tmp_path / "bench.trace")), timeout=60)
    assert rec.returncode == 0, rec.stderr
    r = run("replay_recording.py", "bench.trace", "5", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    replayed = [line.split("\t")[3] for line in r.stdout.splitlines()]
    recorded = [line.split("\t")[4] for line in rec.stdout.splitlines()[1:]]
    assert len(replayed) == len(recorded) == 5
    assert all(abs(float(a) - float(b)) < 0.006 for a, b in zip(replayed, recorded))  # shown to two decimals
    more = run("replay_recording.py", "bench.trace", "6", cwd=tmp_path)
    assert more.returncode == 2 and "has come to the end of the recording" in more.stderr
