#!/bin/sh
# The register decoder for sigrok (packaging/sigrok/qvin27319), stacked on sigrok's own SPI
# decoder over an exported VCD: its annotations name the registers that qvin-cli read
# printed in that session, with the words it printed, and the bytes written. Its register
# table is the program's.
# Usage: sigrok_decoder.sh QVIN-CLI SOURCE-DIR WORK-FOLDER
set -u
cli=$1 source=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
if ! command -v sigrok-cli > /dev/null; then echo "sigrok-cli is not installed; skipping"; exit 77; fi
failed=0

# Every named register of the program is in the decoder's table at its address.
"$cli" registers | awk -F'\t' 'NR > 1 && $2 != "N/A" && $2 != "-" { printf "    0x%s: \047%s\047,\n", $3, $2 }' > table.want
grep "^    0x[0-9A-F]*: '" "$source/packaging/sigrok/qvin27319/pd.py" > table.have
cmp -s table.want table.have || { echo "FAILED: the decoder's register table is not the program's"; diff table.want table.have | head; failed=1; }

for interface in --usb "--lpt 378" "--spidev /dev/spidev0.0"; do
    name=$(echo "$interface" | cut -c3-5)
    printf 'write Incl_Null -5\nread Product Supply_Out Incl_Out\nread Incl_Null\n' |
        QVIN_TRACE=$name.trace "$cli" --sim $interface - > $name.out || { echo "FAILED: $name: the session"; failed=1; continue; }
    "$cli" export-vcd $name.trace --out $name.vcd > /dev/null || { echo "FAILED: $name: export"; failed=1; continue; }
    SIGROKDECODE_DIR="$source/packaging/sigrok" sigrok-cli -I vcd -i $name.vcd \
        -P spi:clk=clk:mosi=mosi:miso=miso:cs=cs:cpol=0:cpha=1:wordsize=16,qvin27319 -A qvin27319 2> $name.err > $name.ann
    # What read printed, as the decoder would say it.
    awk '/raw=/ { sub(/raw=/, "", $2); print "qvin27319-1: Read " $1 " = " $2 }' $name.out > $name.want
    grep ': Read ' $name.ann > $name.reads
    if [ ! -s $name.want ] || ! cmp -s $name.want $name.reads; then
        echo "FAILED: $name: the decoder's reads are not what qvin-cli read"; paste -d'|' $name.want $name.reads | head; failed=1
    fi
    # -5 written high byte first: FF into the high byte, then FB into the register.
    printf 'qvin27319-1: Write Incl_Null (high byte) <- FF\nqvin27319-1: Write Incl_Null <- FB\n' > $name.writes.want
    grep ': Write ' $name.ann > $name.writes
    cmp -s $name.writes.want $name.writes || { echo "FAILED: $name: the writes"; cat $name.writes; failed=1; }
done
[ "$failed" -eq 0 ] && echo "the decoder names every register read and written"
exit "$failed"
