#!/bin/sh
# Records a scenario on the simulated board, runs it again against the recording, and
# checks that the windows showed the same (every expectation holds again) and that the
# data logs are the same byte for byte.
# Usage: replay_check.sh QVIN-UISCRIPT SCENARIO WORKDIR
set -eu
runner=$1 scenario=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
"$runner" --record "$work/session.trace" --folder "$work/recorded" "$scenario" > /dev/null
"$runner" --replay "$work/session.trace" --folder "$work/replayed" "$scenario" > /dev/null
for log in "$work"/recorded/Datalog_*.txt; do
    [ -e "$log" ] || continue
    cmp "$log" "$work/replayed/${log##*/}"
done
