#!/usr/bin/env bash
# Fails when one of the programs given loads Qt Widgets or Qt Gui to start, directly or through
# a library it needs: the dynamic loader lists what it would load.
# Usage: check_needed.sh <program>...
set -u
failed=0
for program in "$@"; do
    loaded=$(env -u LD_LIBRARY_PATH LD_TRACE_LOADED_OBJECTS=1 "$program") ||
        { echo "FAIL: the loader cannot start $program"; exit 1; }
    grep -q 'libQt6Core' <<<"$loaded" || { echo "FAIL: no Qt Core among what $program loads"; exit 1; }
    if grep -E 'libQt6(Widgets|Gui)' <<<"$loaded"; then
        echo "FAIL $(basename "$program") loads the libraries above"
        failed=1
    else
        echo "ok   $(basename "$program")"
    fi
done
exit $failed
