#!/bin/sh
# Each layer includes only the layers beneath it: a window's logic never reaches into the
# command line, the Qt front end never into the CLI's code, the device layer never into a
# board. Every row: a folder and the folders its files may include from. cli/main.cpp is
# where qvin-cli is put together, the one file that may name the Qt drawing.
# Usage: layering.sh SOURCE-DIR
set -u
cd "$1" || exit 1
failed=0
allowed() {
    layer=$1; shift
    for file in $(find "$layer" -name '*.cpp' -o -name '*.h'); do
        [ "$file" = cli/main.cpp ] && continue
        for used in $(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' "$file" | sort -u); do
            case " $layer $* " in
            *" $used "*) ;;
            *) echo "$file includes from $used/, which $layer/ must not use"; failed=1 ;;
            esac
        done
    done
}
allowed core
allowed platform core
allowed sim core platform
allowed device core platform
allowed analysis core device
allowed board core platform device sim
allowed session core platform device analysis board
allowed ui core platform device sim analysis board session
allowed qt core platform device analysis board session ui
allowed cli core platform device analysis board session
allowed python core platform device sim analysis board session
[ "$failed" -eq 0 ] && echo "every layer includes only what lies beneath it"
exit "$failed"
