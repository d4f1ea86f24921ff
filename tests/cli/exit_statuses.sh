#!/bin/sh
# Every exit status the programs document, and the hostile inputs that once lied about
# theirs, run through the real qvin-cli and qvin-eval. Each row: the status wanted, an
# environment setting (or -), the arguments, and a piece of what standard error must say.
# Usage: exit_statuses.sh QVIN-CLI QVIN-EVAL WORK-FOLDER [MEMORY-LIMIT-KB (0: none)]
set -u
cli=$1 eval_=$2 work=$3 limit=${4:-1000000}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failed=0 ran=0

# Inputs: a log, a recording of a read, recordings spoilt in the ways seen, a FIFO.
"$cli" --sim watch --count 30 --delay 10 --log run.log > /dev/null || exit 1
QVIN_TRACE=good.trace "$cli" --sim read Supply_Out > /dev/null || exit 1
# (Each line starts with its time, "@NS ".)
sed 's/ usb-in 1 00 00 8A 91$/ usb-in 1 00 00 8 91/' good.trace > onedigit.trace
n=$(grep -n ' usb-in 1 00 00 8A 91$' good.trace | cut -d: -f1)
head -n $((n - 1)) good.trace > cut.trace && printf 'usb-in 1 00 00 8A 9' >> cut.trace
(head -n 3 good.trace; echo 'took 60000000000'; tail -n +4 good.trace) > took.trace
(head -n 3 good.trace; for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do echo 'took 1000000000'; done; tail -n +4 good.trace) > chain.trace
seq 1 3 > three.txt
awk 'BEGIN { for (i = 0; i < 1000; i++) print (i % 2 ? "-1e308" : "1e308") }' > huge.txt
awk 'BEGIN { for (i = 0; i < 1000; i++) printf "%g\n", 1e300 * (1 + (i * 7919 % 13) / 10) }' > large.txt
printf '\000\001binary\377\n' > binary.trace
: > empty.trace
mkfifo fifo.png fifo.trace
mkdir folder.trace

# check STATUS ENV PROGRAM ARGS... -- EXPECTED-STDERR-PIECE (standard input from $stdin)
stdin=/dev/null
check() {
    want=$1 env=$2 prog=$3
    shift 3
    args=""
    while [ "$1" != "--" ]; do args="$args '$1'"; shift; done
    piece=$2
    ran=$((ran + 1))
    if [ "$env" = - ]; then
        eval "timeout 60 '$prog' $args" > out.txt 2> err.txt < "$stdin"
    else
        eval "env '$env' timeout 60 '$prog' $args" > out.txt 2> err.txt < "$stdin"
    fi
    got=$?
    if [ "$got" -ne "$want" ] || { [ -n "$piece" ] && ! grep -qF -- "$piece" err.txt; }; then
        echo "FAILED: $env $(basename "$prog")$args: status $got (wanted $want); standard error:"
        sed 's/^/    /' err.txt | head -5
        echo "    (wanted it to say: $piece)"
        failed=$((failed + 1))
    fi
}

export QT_QPA_PLATFORM=offscreen
# 0: done.
check 0 - "$cli" --sim info -- ""
check 0 - "$cli" plot run.log --png run.png -- ""
# 1: bad input, found before any board is touched.
check 1 - "$cli" --sim read Bogus_Reg -- "unknown register 'Bogus_Reg'"
check 1 - "$cli" --usb 4 info -- "there is no adapter at Ezusb-4"
check 1 - "$cli" watch --polarity --count 3 -- "watch: unknown option '--polarity'"
check 1 - "$cli" --bogus info -- "unknown option '--bogus'"
check 1 - "$cli" --sim --lpt /dev/sda info -- "--lpt '/dev/sda' is no parallel port device (/dev/parportN)"
check 1 - "$cli" --sim spi --static-bits "" -- "--static-bits needs a list"
check 1 QVIN_SIM_FAULTS=send-fail%0x10 "$cli" --sim info -- "the probability must be a percentage"
check 1 QVIN_SIM_FAULTS=send-fail%1e-400 "$cli" --sim info -- "the probability must be a percentage"
check 1 QVIN_SIM_ANGLE=nan "$cli" --sim info -- 'QVIN_SIM_ANGLE "nan" is no angle'
check 1 QVIN_SIM_ANGLE=1e999 "$cli" --sim info -- 'QVIN_SIM_ANGLE "1e999" is no angle'
check 1 - "$cli" plot run.log --png run.log -- "run.log is the input run.log"
check 1 - "$cli" plot run.log --png small.png --size 320x240 -- "the smallest is 320x"
check 1 - "$cli" plot run.log --png small.png --size 320x100 -- "the smallest is 320x"
check 1 - "$cli" noise three.txt --tau0 1 --png three.png -- "three.txt: no Allan deviation above zero to draw"
check 1 - "$cli" noise huge.txt --tau0 1 --png huge.png -- "the values spread wider than the largest number a double holds"
check 0 - "$cli" noise large.txt --tau0 1 --png large.png -- ""
check 1 - "$cli" --replay good.trace --sim read Supply_Out -- "choose either --sim or --replay"
check 1 - "$cli" --sim --replay good.trace read Supply_Out -- "choose either --sim or --replay"
check 1 QVIN_BOARD=bogus "$cli" info -- "QVIN_BOARD=bogus names no board (sim, hardware or replay:FILE"
check 1 QVIN_BOARD=bogus "$eval_" -- "QVIN_BOARD=bogus names no board"
check 0 QVIN_BOARD=bogus "$cli" --sim info -- ""
# 2: no usable interface, or a replay that stopped.
check 2 - "$cli" info -- "no interface selected"
check 2 QVIN_SIM_FAULTS=no-permission@1+ "$cli" --sim info -- "no usable USB adapter: Ezusb-0: no permission to open it (install the udev rule 60-qvin27319.rules, add your user to the plugdev group and log in again)"
check 2 QVIN_SIM_FAULTS=busy@1+ "$cli" --sim adapters -- "no usable USB adapter: Ezusb-0: busy (another program has it open)"
check 2 QVIN_SIM_FAULTS=busy@1+ "$cli" --sim doctor -- "no board can be reached yet"
check 0 - "$cli" --sim doctor -- ""
printf 'read Supply_Out\nread Supply_Out\n' > twice.txt
stdin=twice.txt
check 2 - "$cli" --replay good.trace - -- "has come to the end of the recording good.trace"
stdin=/dev/null
check 2 - "$cli" --replay onedigit.trace read Supply_Out -- ' usb-in 1 00 00 8 91" is no recording line: "8" is not a byte'
check 2 - "$cli" --replay cut.trace read Supply_Out -- "is cut short"
check 2 - "$cli" --replay took.trace read Supply_Out -- "no request takes longer than a second"
check 2 - "$cli" --replay chain.trace read Supply_Out -- "a took line follows the request it belongs to, once"
# 3: a file that cannot be read or written.
check 3 - "$cli" --replay missing.trace info -- "the recording missing.trace does not exist"
check 3 - "$cli" --replay folder.trace info -- "the recording folder.trace is not a file"
check 3 - "$cli" --replay fifo.trace info -- "the recording fifo.trace is not a file"
check 3 - "$cli" --replay empty.trace info -- "the recording empty.trace holds no exchange"
check 3 - "$cli" --replay binary.trace info -- 'line 1 of binary.trace: "\x00\x01binary\xFF" is no recording line'
check 3 - "$cli" --sim watch --count 1 --log /dev/full -- "/dev/full is not a regular file"
check 3 - "$cli" plot missing.log --png run.png -- "missing.log: No such file or directory"
check 3 - "$cli" plot run.log --png fifo.png -- "fifo.png is not a regular file"
check 3 - "$cli" plot run.log --png /dev/full -- "/dev/full is not a regular file"
# qvin-eval ends instead of waiting on a box nobody sees.
check 1 - "$eval_" --bogus-option -- "unknown option '--bogus-option'"
check 1 - "$eval_" --sim --replay good.trace -- "choose either --sim or --replay"
check 3 - "$eval_" --replay missing.trace -- "the recording missing.trace does not exist"
check 1 QVIN_SIM_FAULTS=bogus "$eval_" --sim -- 'QVIN_SIM_FAULTS: fault rule "bogus" needs @N'
check 2 - "$eval_" --replay onedigit.trace -- "The replay stopped at line"

# A batch line of 1.5 GB is refused without being held: the program has 1 GB at most.
ran=$((ran + 1))
(echo info; head -c 1500000000 /dev/zero | tr '\000' x; echo) |
    (if [ "$limit" -gt 0 ]; then ulimit -v "$limit"; fi; "$cli" --sim - > out.txt 2> err.txt)
got=$?
if [ "$got" -ne 1 ] || ! grep -q "line 2 is longer than 4096 characters: xxxx" err.txt || [ "$(wc -c < err.txt)" -gt 300 ] ||
    ! grep -q "Part:" out.txt; then
    echo "FAILED: a 1.5 GB batch line: status $got"; head -c 300 err.txt; failed=$((failed + 1))
fi
# A log with a line of 200 MB of tabs is read in bounded memory: the line is counted as
# malformed without being held, and the run after it is read to its end.
ran=$((ran + 1))
cp run.log long.log
(head -c 200000000 /dev/zero | tr '\000' '\t'; printf '\r\n') >> long.log
"$cli" --sim watch --count 5 --delay 10 --log long.log > /dev/null 2>&1
(if [ "$limit" -gt 0 ]; then ulimit -v "$limit"; fi; "$cli" plot long.log --png long.png > out.txt 2> err.txt)
got=$?
if [ "$got" -ne 0 ] || ! grep -q "long.log: 35 passes in 2 runs, 1 malformed line skipped" out.txt; then
    echo "FAILED: a 200 MB line in a log: status $got"; cat out.txt err.txt; failed=$((failed + 1))
fi
rm -f long.log

# A spoilt picture write leaves the old picture: a file size limit as a full disk.
ran=$((ran + 1))
cp run.png kept.png
(ulimit -f 4; "$cli" plot run.log --png run.png > /dev/null 2> err.txt)
got=$?
if [ "$got" -ne 3 ] || ! cmp -s run.png kept.png || ! grep -q "run.png: File too large" err.txt || ls -a | grep -q '^\.run\.png'; then
    echo "FAILED: a picture cut short by a full disk: status $got"; cat err.txt; failed=$((failed + 1))
fi

echo "$((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
