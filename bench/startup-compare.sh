#!/usr/bin/env bash
# Start-up of the window as a user sees it, on a desktop of its own (Xvfb 1280x800 with openbox):
#  - the program's own start-up timeline, phase by phase (ORVANE_STARTUP_TIMELINE), three runs;
#  - the dynamic loader's share, from its own statistics (LD_DEBUG=statistics);
#  - exec to the first mapped window and peak resident memory, in alternating pairs against a
#    second program when one is given (another build of orvane, for a before/after table);
#  - the processor time the program uses idle, its window open, over 60 s.
#   startup-compare.sh startup-map ORVANE [OTHER_PROGRAM [ARGUMENTS...]]
set -u
map=$1
program=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
desktop="$here/../tests/desktop/run-on-desktop.sh"

measure() {
    echo "== start-up timeline of $program (three runs; the first paint ends each)"
    for run in 1 2 3; do
        ORVANE_STARTUP_TIMELINE=1 "$map" --pairs 1 -- "$program" 2>&1 | grep '^startup:'
        echo
    done
    echo "== the dynamic loader"
    LD_DEBUG=statistics LD_DEBUG_OUTPUT=/tmp/orvane-ld.$$ timeout 5 "$program" >/dev/null 2>&1 &
    loader=$!
    wait "$loader"
    grep -h -E 'total startup time|time needed for relocation|number of relocations:|objects loaded' \
        /tmp/orvane-ld.$$.* 2>/dev/null | sed 's/^ *[0-9]*: *//' | sort -u
    rm -f /tmp/orvane-ld.$$.*
    echo "== exec to window mapped, peak memory"
    if [ $# -gt 0 ]; then
        "$map" --pairs 12 -- "$program" -- "$@"
    else
        "$map" --pairs 12 -- "$program"
    fi
    echo "== idle"
    "$map" --pairs 1 --idle 60 -- "$program" | grep '^idle'
}
export -f measure
export map program
bash "$desktop" 1280x800 bash -c "$(declare -p map program); $(declare -f measure); measure $(printf '%q ' "$@")"
