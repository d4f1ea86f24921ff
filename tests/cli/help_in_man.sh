#!/bin/sh
# Every option, command and environment variable a program's --help names appears in its
# manual page (and qvin-cli's in the README as well), so neither document falls behind.
# Usage: help_in_man.sh SOURCE-DIR QVIN-CLI QVIN-EVAL WORK-FOLDER
set -u
src=$1 cli=$2 eval_=$3 work=$4
mkdir -p "$work" && cd "$work" || exit 1
failed=0

# The words of a man page as a reader sees them: no font escapes, "\-" as "-".
man_words() { sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\(em/--/g' "$1"; }

# check NAME HELP-TEXT DOCUMENT-TEXT-FILE
check() {
    for word in $(printf '%s\n' "$2" | grep -oE -- '--[a-z][a-z0-9-]*|QVIN_[A-Z_]+' | sort -u); do
        if ! grep -qF -- "$word" "$3"; then
            echo "FAILED: $1 --help names $word, which $3 does not"
            failed=$((failed + 1))
        fi
    done
}

cli_help=$("$cli" --help) || { echo "FAILED: qvin-cli --help ended with a failure"; exit 1; }
eval_help=$(QT_QPA_PLATFORM=offscreen "$eval_" --help) || { echo "FAILED: qvin-eval --help ended with a failure"; exit 1; }
man_words "$src/packaging/qvin-cli.1" > qvin-cli.man.txt
man_words "$src/packaging/qvin-eval.1" > qvin-eval.man.txt
check qvin-cli "$cli_help" qvin-cli.man.txt
check qvin-eval "$eval_help" qvin-eval.man.txt
check qvin-cli "$cli_help" "$src/README.md"

# The commands the help lists, each with its own entry in the manual page.
for command in $(printf '%s\n' "$cli_help" | sed -n '/^Commands:/,/^$/p' | grep -oE '^  [a-z][a-z-]*' ); do
    if ! grep -qE "^\.(B|BI|BR) $command( |\$)" qvin-cli.man.txt; then
        echo "FAILED: qvin-cli --help lists the command $command, which has no entry in qvin-cli(1)"
        failed=$((failed + 1))
    fi
    # Its own help: that command's part of the usage, and nothing done.
    own=$("$cli" $command --help) || { echo "FAILED: qvin-cli $command --help ended with a failure"; failed=$((failed + 1)); continue; }
    if ! printf '%s\n' "$own" | grep -qE "^  $command( |\$)" || [ "$(printf '%s\n' "$own" | grep -cE '^  [a-z-]+ ')" -gt 1 ]; then
        echo "FAILED: qvin-cli $command --help does not give $command's usage alone"
        failed=$((failed + 1))
    fi
done
version=$(sed -n 's/^project(qvin27319 VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ "$("$cli" --version)" = "qvin-cli $version" ] || { echo "FAILED: qvin-cli --version says $("$cli" --version), not $version"; failed=$((failed + 1)); }
[ "$failed" -eq 0 ] && echo "every option of the help is in the manual pages and the README"
exit $((failed > 0))
