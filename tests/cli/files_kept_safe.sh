#!/bin/sh
# What the real program may write, and where: a trace never empties a file the command
# reads, an output is never one of its inputs or another output, another user's link
# anywhere on a path is not followed, and a writer stopped by the file-size limit or a
# signal says so and leaves no temporary file behind.
# Usage: files_kept_safe.sh QVIN-CLI WORK-FOLDER
set -u
cli=$1
rm -rf "$2" && mkdir -p "$2" && cd "$2" || exit 1
fail() { echo "FAIL: $*"; for f in *.err; do echo "--- $f"; cat "$f"; done; exit 1; }
hidden() { find . -name '.*.??????' | grep -q . ; }

# A recording to read.
QVIN_TRACE=bench.trace "$cli" --sim read Product Supply_Out > /dev/null || fail "the recording"
cp bench.trace bench.copy
seq 1 100 > values.txt

# Commands that read only files open no trace: not even one named after their input.
QVIN_TRACE=bench.trace "$cli" export-vcd bench.trace --out bench.vcd > vcd.out 2> vcd.err || fail "export-vcd under a trace"
cmp -s bench.trace bench.copy || fail "export-vcd's trace emptied its recording"
grep -q 'bench.vcd: 3 words' vcd.out || fail "the export read the recording"
QVIN_TRACE=values.txt "$cli" noise values.txt --tau0 1 > noise.out 2> noise.err || fail "noise under a trace"
test "$(grep -c '' values.txt)" -eq 100 || fail "noise's trace emptied its values"
QVIN_TRACE=unasked.trace "$cli" registers > /dev/null || fail "registers under a trace"
QVIN_TRACE=unasked.trace "$cli" noise values.txt --tau0 1 > /dev/null || fail "noise under a trace"
test ! -e unasked.trace || fail "a command that reads files made a trace"

# An output that is an input, or two outputs that are one file, is refused before a byte.
"$cli" --replay bench.trace capture --count 3 --out bench.trace 2> own1.err
test $? -eq 1 && grep -q 'bench.trace is the recording being replayed; it would be overwritten' own1.err || fail "capture over its recording"
"$cli" --replay bench.trace watch --count 1 --log ./bench.trace > /dev/null 2> own2.err
test $? -eq 1 && grep -q 'the recording being replayed' own2.err || fail "a log into the recording"
cmp -s bench.trace bench.copy || fail "the recording was touched"
printf 'precious\n' > cap.csv
QVIN_TRACE=cap.csv "$cli" --sim capture --count 3 --out cap.csv 2> own3.err
test $? -eq 1 && grep -q 'cap.csv is the trace (QVIN_TRACE); the two would be written into one file' own3.err || fail "capture into its trace"
test "$(cat cap.csv)" = precious || fail "the trace wrote over the capture's file"
"$cli" noise values.txt --tau0 1 --png pic --csv ./pic 2> own4.err
test $? -eq 1 && grep -q -- '--png and --csv name one file' own4.err || fail "--png and --csv as one file"
test ! -e pic || fail "a refused noise wrote"

# Past the file-size limit: exit 3, the reason, the old file as it was, no temporary left.
QVIN_TRACE=big.trace "$cli" --sim capture --seconds 3 > big.csv 2> /dev/null || fail "a long recording"
seq 1 1000 > many.txt  # taus all: 250 rows, over the 8 KB limit
printf 'old\n' > limit.vcd
(ulimit -f 64; "$cli" export-vcd big.trace --out limit.vcd > /dev/null 2> limit1.err)
test $? -eq 3 && grep -q 'limit.vcd: File too large' limit1.err || fail "export-vcd past the limit"
test "$(cat limit.vcd)" = old || fail "the old export was touched"
(ulimit -f 8; "$cli" noise many.txt --tau0 1 --taus all --csv limit.csv > /dev/null 2> limit2.err)
test $? -eq 3 && grep -q 'limit.csv: File too large' limit2.err || fail "noise --csv past the limit"
(ulimit -f 8; QVIN_TRACE=limit.trace "$cli" --sim monitor 30 > /dev/null 2> limit3.err)
test $? -eq 3 && grep -q 'QVIN_TRACE: the trace is not whole: limit.trace: File too large' limit3.err || fail "a trace past the limit"
hidden && fail "a temporary file was left: $(find . -name '.*.??????')"

# A signal during a long export removes its temporary file and ends the program as it would.
for i in 1 2 3 4 5 6 7 8; do cat big.trace; done > huge.trace
"$cli" export-vcd huge.trace --out huge.vcd > /dev/null 2>&1 &
pid=$!
sleep 0.3
kill -TERM $pid
wait $pid
test $? -eq 143 || fail "SIGTERM ends export-vcd as SIGTERM does"
test ! -e huge.vcd || fail "an export ended by a signal left its file"
hidden && fail "an export ended by a signal left its temporary file"

# A trace that cannot be written at all fails the run at its end (said at its start).
mkdir folder
QVIN_TRACE=folder "$cli" --sim read Product > /dev/null 2> folder.err
test $? -eq 3 && grep -q 'QVIN_TRACE: the trace is not written: folder is a folder' folder.err || fail "a trace into a folder"

# Another user's link to a folder, in a shared sticky folder, anywhere on the path.
if [ "$(id -u)" -ne 0 ]; then
    echo "the link part is skipped: giving a link to another user needs root"
else
    mkdir -m 1777 shared && mkdir victim
    ln -s "$PWD/victim" shared/lab && chown -h 65534:65534 shared/lab || fail "the other user's link"
    refused() { grep -q "shared/lab is a link that belongs to another user (uid 65534); it is not followed" "$1"; }
    "$cli" --sim capture --count 3 --out shared/lab/cap.csv 2> l1.err; test $? -eq 3 && refused l1.err || fail "capture --out"
    "$cli" export-vcd bench.trace --out shared/lab/x.vcd > /dev/null 2> l2.err; test $? -eq 3 && refused l2.err || fail "export-vcd --out"
    "$cli" --sim watch --count 1 --log shared/lab/w.log > /dev/null 2> l3.err; test $? -eq 3 && refused l3.err || fail "watch --log"
    "$cli" noise values.txt --tau0 1 --csv shared/lab/n.csv > /dev/null 2> l4.err; test $? -eq 3 && refused l4.err || fail "noise --csv"
    QVIN_TRACE=shared/lab/t.trace "$cli" --sim read Product > /dev/null 2> l5.err; test $? -eq 3 && refused l5.err || fail "QVIN_TRACE"
    if "$cli" plot 2>&1 | grep -q 'built without Qt'; then :; else
        "$cli" --sim watch --count 3 --delay 10 --log p.log > /dev/null || fail "a log to draw"
        "$cli" plot p.log --png shared/lab/p.png > /dev/null 2> l6.err; test $? -eq 3 && refused l6.err || fail "plot --png"
    fi
    test -z "$(ls -A victim)" || fail "something was written into the other user's folder: $(ls -A victim)"
fi
echo "files kept safe: ok"
