#!/bin/sh
# A capture through the real program keeps every file it should: a capture that fails
# leaves the old file as it was and its own rows whole beside it; a full disk stops it at
# once; SIGTERM ends it as Ctrl-C does; standard output that cannot be written is a
# failure for every command that prints. And noise reads what is missing as missing:
# time that runs back, a file with no sample, a data log of two runs.
# Usage: capture_keeps_files.sh QVIN-CLI WORK-FOLDER
set -u
cli=$1
rm -rf "$2" && mkdir -p "$2" && cd "$2" || exit 1
fail() { echo "FAIL: $*"; for f in *.err; do echo "--- $f"; cat "$f"; done; exit 1; }
export QVIN_SIM_ANGLE=30

# A capture that fails (the adapter pulled after 300 transfers) onto an existing file.
printf 'precious\n' > old.csv
QVIN_SIM_FAULTS=unplug@300 "$cli" --sim capture --seconds 5 --outputs incl_360 --out old.csv 2> unplug.err
test $? -eq 2 || fail "an unplugged adapter is exit 2"
test "$(cat old.csv)" = precious || fail "the old file was touched"
grep -q 'captured before it are in old.csv.partial (old.csv is as it was)' unplug.err || fail "where the rows are"
rows=$(grep -c '' old.csv.partial)
test "$rows" -gt 10 || fail "rows kept: $rows"
test "$(awk -F, 'NR > 1 && NF != 5' old.csv.partial | wc -l)" -eq 0 || fail "a torn row"

# A capture recorded and replayed: each pass one exchange of the outputs and the status
# (3 requests and the last again), answered word for word as recorded (the times, and so
# the counted misses, are the replay's own).
QVIN_TRACE=burst.trace "$cli" --sim capture --count 300 --outputs incl_360,temp_out --out burst1.csv 2> burst.err || fail "the recorded capture"
grep -q ' usb-out 0 0D 01 04 0C 00 0A 00 3C 00 3C 00$' burst.trace || fail "no exchange of three registers in the recording"
"$cli" --replay burst.trace capture --count 300 --outputs incl_360,temp_out --out burst2.csv 2> burst.err || fail "the replayed capture"
cut -d, -f2-5 burst1.csv > burst1.values
cut -d, -f2-5 burst2.csv > burst2.values
test "$(wc -l < burst1.values)" -eq 301 && cmp -s burst1.values burst2.values || fail "the replay's answers differ"

# A capture needs its length: neither a count nor a duration is refused at once.
timeout 20 "$cli" --sim capture --out endless.csv 2> endless.err
test $? -eq 1 || fail "a capture without --count or --seconds is exit 1"
grep -q 'give either --count N or --seconds S' endless.err || fail "the length asked for"
test ! -e endless.csv || fail "a refused capture wrote a file"

# A recording is never its own export, by its name or through a link.
QVIN_TRACE=own.trace "$cli" --sim read Product > /dev/null || fail "the recording"
cp own.trace own.copy
ln -s own.trace own-link.vcd
for target in own.trace own-link.vcd; do
    "$cli" export-vcd own.trace --out $target 2> own.err
    test $? -eq 1 || fail "export-vcd onto its recording ($target) is exit 1"
    grep -q "is the input own.trace; it would be overwritten" own.err || fail "said why ($target)"
done
cmp -s own.trace own.copy || fail "the recording was touched"

# A capture that fails before its first row (the adapter gone at its first transfer) leaves
# nothing of its own: no partial file of a header alone.
printf 'precious\n' > early.csv
QVIN_SIM_FAULTS=unplug@17 "$cli" --sim capture --seconds 5 --out early.csv 2> early.err
test $? -eq 2 || fail "an adapter gone at once is exit 2"
test "$(cat early.csv)" = precious || fail "the old file was touched"
test ! -e early.csv.partial || fail "a partial file without a row"
! grep -q 'captured before it' early.err || fail "rows said kept where there were none"

# A full disk (the file-size limit) stops it at once with exit 3, whole rows kept.
rm -f full.csv*
(ulimit -f 4; "$cli" --sim capture --seconds 30 --out full.csv 2> full.err)
test $? -eq 3 || fail "a full disk is exit 3"
grep -q 'full.csv: File too large' full.err || fail "the reason"
test "$(tail -c 1 full.csv | od -An -c | tr -d ' ')" = '\n' || fail "the last row is torn"
test "$(awk -F, 'NR > 1 && NF != 9' full.csv | wc -l)" -eq 0 || fail "a torn row"

# SIGTERM and SIGHUP end it as Ctrl-C does: exit 0, every row whole, said how.
for sig in TERM HUP; do
    "$cli" --sim capture --seconds 60 --outputs incl_360 --out $sig.csv 2> $sig.err &
    pid=$!
    sleep 1
    kill -$sig $pid
    wait $pid || fail "SIG$sig is exit 0"
    grep -q "stopped by SIG$sig into $sig.csv" $sig.err || fail "SIG$sig said"
    grep -q '^capture: [0-9]* samples kept, [0-9]* missed' $sig.err || fail "the count"
    test "$(awk -F, 'NR > 1 && NF != 5' $sig.csv | wc -l)" -eq 0 || fail "a torn row after SIG$sig"
done

# Standard output that cannot be written: exit 3 and the reason, for each command that prints.
for cmd in "capture --count 50" "watch --count 3 --delay 10" "dump" "info" "noise TERM.csv"; do
    "$cli" --sim $cmd > /dev/full 2> devfull.err
    test $? -eq 3 || fail "$cmd onto /dev/full is exit 3"
    grep -q 'cannot write standard output: No space left on device' devfull.err || fail "$cmd: the reason"
done

# Time that runs back is refused at its line; a file without a sample is bad input.
printf 'seconds since 2026-12-07T09:00:00.000Z,INCL_360 (dgr),Alarm,Missed\n0.001,30,0,0\n0.002,30,0,0\n0.0015,30,0,0\n' > back.csv
"$cli" noise back.csv 2> back.err
test $? -eq 3 || fail "time running back is exit 3"
grep -q 'back.csv: line 4: the time 0.0015 goes back before the time before it' back.err || fail "the line"
head -1 back.csv > empty.csv
"$cli" noise empty.csv 2> empty.err
test $? -eq 1 || fail "no sample is exit 1"
grep -q 'empty.csv holds no sample' empty.err || fail "no sample said"

# A data log of two runs (10 and 50 ms): the longest analysed with its nominal time, both listed.
"$cli" --sim watch --count 40 --delay 10 --log two.log > /dev/null && "$cli" --sim watch --count 20 --delay 50 --log two.log > /dev/null \
    || fail "the log"
"$cli" noise two.log --column incl_360 > two.out 2> two.err || fail "noise on the log"
grep -q 'tau0 0.01 s (nominal' two.out || fail "nominal tau0"
grep -q 'run 1: .*loop delay 10 ms, 40 passes  <- analysed' two.out || fail "run 1 listed and analysed"
grep -q 'run 2: .*loop delay 50 ms, 20 passes$' two.out || fail "run 2 listed"
# Each output's unit as its column names it; the table's interval around each deviation.
"$cli" noise two.log --column incl_360 --csv two.table > two-unit.out || fail "noise --csv"
grep -q 'spectral floor [0-9.e+-]* dgr/sqrt(Hz)' two-unit.out || fail "the unit of INCL_360"
test "$(wc -l < two.table)" -gt 3 || fail "the table's rows"
awk -F, 'NR > 1 && !($8 + 0 < $7 + 0 && $7 + 0 < $9 + 0) { bad = 1 } END { exit bad }' two.table || fail "oadev_lo < oadev < oadev_hi"
# The same report as JSON, of a file named with a quote and a tab to escape: the table's rows
# are the CSV's, the count the printed one, and 40 passes are too few to fit the noise terms
# (every one null).
cp two.log 'two "log"	.log'
"$cli" noise 'two "log"	.log' --column incl_360 --json two.json > two-json.out || fail "noise --json"
python3 - two.json two.table two-json.out <<'PY' || fail "the JSON report"
import csv, json, sys
d = json.load(open(sys.argv[1]))
rows = list(csv.DictReader(open(sys.argv[2])))
o = d["outputs"][0]
assert d["file"] == 'two "log"\t.log' and d["deviation"] == "oadev" and len(d["outputs"]) == 1, d
assert o["column"] == "INCL_360 (dgr)" and len(o["table"]) == len(rows) > 3
for j, c in zip(o["table"], rows):
    assert abs(j["oadev"] - float(c["oadev"])) <= 1e-8 * abs(j["oadev"]) and j["m"] == int(c["m"]) and j["n"] == int(c["n"]), (j, c)
assert f"count {o['statistics']['count']}," in open(sys.argv[3]).read()
assert all(v is None for v in o["terms"].values()) and o["terms_fit"]["fitted"] is False and set(o["terms"]) == set("QNBKR")
PY
# Another deviation by name: its table and columns under its name; a name no deviation has,
# or a picture of another deviation, is bad input.
"$cli" noise two.log --column incl_360 --deviation totdev --taus all --csv tot.table > tot.out || fail "noise --deviation totdev"
head -1 tot.table | grep -q '^column,tau_s,m,n,alpha,edf,totdev,totdev_lo,totdev_hi$' || fail "the totdev table's header"
grep -q 'TOTDEV' tot.out || fail "the totdev column"
test "$(awk -F, 'NR > 1' tot.table | wc -l)" -eq 20 || fail "every averaging factor to half the 40 passes"
"$cli" noise two.log --deviation bdev 2> bdev.err
test $? -eq 1 && grep -q "bad --deviation 'bdev'" bdev.err || fail "an unknown deviation"
"$cli" noise two.log --deviation mdev --png m.png 2> mpng.err
test $? -eq 1 && grep -q "png draws the overlapping Allan deviation" mpng.err || fail "a picture of mdev"
"$cli" noise two.log --run 2 --column incl_360 > two2.out || fail "--run 2"
grep -q 'tau0 0.05 s' two2.out || fail "run 2's loop delay"
"$cli" noise two.log --run 3 2> two3.err
test $? -eq 1 || fail "no run 3 is exit 1"
grep -q "two.log holds 2 runs, no run 3" two3.err || fail "no run 3 said"
# The spectrum of white noise (uniform, variance 1/12, every millisecond): its one-sided
# density is 2 var tau0, a floor of sqrt(2 / 12 * 0.001) = 0.0129 per root hertz.
awk 'BEGIN { srand(7); for (i = 0; i < 200000; i++) printf "%.6f\n", rand() }' > white.txt
"$cli" noise white.txt --tau0 0.001 --psd white.psd > white.out 2> white.err || fail "noise --psd"
awk '/spectral floor/ { f = $3 } END { exit !(f > 0.01226 && f < 0.01355) }' white.out || fail "the floor of white noise: $(grep 'spectral floor' white.out)"
head -1 white.psd | grep -q '^column,f_hz,psd,asd$' || fail "the spectrum's header"
test "$(grep -c '' white.psd)" -eq 16386 || fail "the spectrum's rows (eleven segments of 32768 samples: 16385 bins)"
tail -1 white.psd | grep -q '^value,500,' || fail "the spectrum ends at half the sample rate"
"$cli" noise white.txt --tau0 0.001 --csv same.csv --psd ./same.csv 2> same.err
test $? -eq 1 && grep -q -- '--csv and --psd name one file' same.err || fail "--csv and --psd as one file"
echo "capture and noise keep every file: ok"
