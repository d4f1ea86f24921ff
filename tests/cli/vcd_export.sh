#!/bin/sh
# A recorded session of the simulated board exported as VCD and decoded by sigrok-cli's SPI
# decoder, an implementation of its own: the words it finds going to the chip are the frames
# the simulated chip saw (the recording's "spi" lines), and the words it finds coming back
# where the program read are the words the program received (qvin-cli read's raw=).
# Usage: vcd_export.sh QVIN-CLI WORK-FOLDER
set -u
cli=$1 work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if ! command -v sigrok-cli > /dev/null; then echo "sigrok-cli is not installed; skipping"; exit 77; fi
failed=0 ran=0

# Decoded words of one direction, one a line, as 4-digit upper-case hexadecimal.
decode() {
    sigrok-cli -I vcd -i "$1" -P spi:clk=clk:mosi=mosi:miso=miso:cs=cs:cpol=0:cpha=1:wordsize=16 -A "spi=$2-data" 2>/dev/null |
        while read -r _ word; do printf '%04X\n' "0x$word"; done
}

# check NAME ENV ANSWERS CLI-ARGS... : record, export, decode, compare. ANSWERS: the frames
# (an awk condition on their number) whose returned words are the program's readings.
single='NR % 2 == 0'  # single reads (a batch on standard input from NAME.in): each read's second frame
burst='NR > 1'        # read with several registers: each frame after the first answers the one before
check() {
    name=$1 env=$2 answers=$3
    shift 3
    ran=$((ran + 1))
    [ -f "$name.in" ] || : > "$name.in"
    env QVIN_TRACE="$name.trace" $env "$cli" --sim "$@" < "$name.in" > "$name.out" 2> "$name.err"
    "$cli" export-vcd "$name.trace" --out "$name.vcd" > "$name.export" || { echo "FAILED: $name: export"; failed=$((failed + 1)); return; }
    decode "$name.vcd" mosi > "$name.mosi"
    decode "$name.vcd" miso > "$name.miso"
    awk '$2 == "spi" { print $3 }' "$name.trace" > "$name.chip-mosi"
    # Every word the chip saw, in order, and nothing else.
    if [ ! -s "$name.chip-mosi" ] || ! cmp -s "$name.mosi" "$name.chip-mosi"; then
        echo "FAILED: $name: the decoder found other words going to the chip"; paste "$name.mosi" "$name.chip-mosi" | head; failed=$((failed + 1)); return
    fi
    # The words the program received, where the reads found them.
    grep -o 'raw=[0-9A-F]*' "$name.out" | cut -c5- > "$name.received"
    paste "$name.mosi" "$name.miso" | awk "$answers"' { print $2 }' > "$name.answers"
    if [ ! -s "$name.received" ] || ! cmp -s "$name.answers" "$name.received"; then
        echo "FAILED: $name: the decoder found other answers than the program received"; paste "$name.answers" "$name.received"; failed=$((failed + 1))
    fi
}

printf 'read Product\nread Supply_Out\nread Incl_Out\nread Status\n' > lpt.in
cp lpt.in usb.in
check lpt "" "$single" --lpt 378 -
check usb "" "$single" --usb -
check lpt-burst "" "$burst" --lpt 378 read Product Supply_Out Incl_Out Status Temp_Out
check usb-burst "" "$burst" --usb read Product Supply_Out Incl_Out Status Temp_Out
# Sixteen registers: two transfers of the adapter, 15 requests and the last again, then the
# sixteenth and itself again (frame 17 answers the request repeated at the end of the first).
check usb-long "" "NR > 1 && NR != 17" --usb read 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17
test "$(grep -c '^@[0-9]* usb-out 0 0D' usb-long.trace)" -eq 2 || { echo "FAILED: usb-long: not two transfers"; failed=$((failed + 1)); }
# A Linux SPI controller's device: its exchanges drawn frame by frame, single and burst.
cp lpt.in spidev.in
check spidev "" "$single" --spidev /dev/spidev0.0 -
check spidev-burst "" "$burst" --spidev /dev/spidev0.0 read Product Supply_Out Incl_Out Status Temp_Out
grep -q "RECONSTRUCTED TIMING" spidev.vcd || { echo "FAILED: the spidev waveform does not say its timing is reconstructed"; failed=$((failed + 1)); }
# The cable's data line stuck high from the third frame: the waveform shows FFFF answers.
check lpt-fault QVIN_SIM_FAULTS=miso-high@3+ "$burst" --lpt 378 read Product Supply_Out Incl_Out
grep -q "raw=FFFF" lpt-fault.out || { echo "FAILED: lpt-fault: the fault did not strike"; failed=$((failed + 1)); }
check spidev-fault QVIN_SIM_FAULTS=miso-high@3+ "$burst" --spidev /dev/spidev0.0 read Product Supply_Out Incl_Out
grep -q "raw=FFFF" spidev-fault.out || { echo "FAILED: spidev-fault: the fault did not strike"; failed=$((failed + 1)); }
# The adapter refuses a transfer: the export says so and the waveform stops where the chip
# stopped seeing frames.
ran=$((ran + 1))
QVIN_TRACE=usb-fault.trace QVIN_SIM_FAULTS=send-fail@4 "$cli" --sim read Product Supply_Out Incl_Out > usb-fault.out 2>&1
"$cli" export-vcd usb-fault.trace --out usb-fault.vcd > usb-fault.export
decode usb-fault.vcd mosi > usb-fault.mosi
awk '$2 == "spi" { print $3 }' usb-fault.trace > usb-fault.chip-mosi
if ! grep -q "1 transfers refused by the adapter" usb-fault.export || ! cmp -s usb-fault.mosi usb-fault.chip-mosi ||
    ! grep -q "the adapter refused the transfer" usb-fault.vcd; then
    echo "FAILED: usb-fault"; cat usb-fault.export; failed=$((failed + 1))
fi
# The adapter's delay between words (40 us asked) is the time chip select stays high
# between the words of one transfer.
ran=$((ran + 1))
QVIN_TRACE=delay.trace "$cli" --sim --usb spi --delay 40 5600 0000 0000 > delay.out 2>&1
"$cli" export-vcd delay.trace --out delay.vcd > delay.export
highs=$(awk '/^#/ { t = substr($0, 2) } $0 == "1!" { up = t } $0 == "0!" && up != "" { print t - up; up = "" }' delay.vcd | tail -n +2 | tr '\n' ' ')
if [ "$highs" != "40000 40000 " ]; then
    echo "FAILED: delay: chip select high between words for '$highs' ns, not 40000 twice"; failed=$((failed + 1))
fi
grep -q "RECONSTRUCTED TIMING" usb.vcd || { echo "FAILED: the USB waveform does not say its timing is reconstructed"; failed=$((failed + 1)); }
echo "$((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
