#!/usr/bin/env bash
# Fails when one of the programs given needs Qt Widgets or Qt Gui to start.
# Usage: check_needed.sh <readelf> <program>...
set -u
readelf=$1
shift
failed=0
for program in "$@"; do
    needed=$("$readelf" -d "$program" | grep -F '(NEEDED)') || { echo "FAIL: cannot read $program"; exit 1; }
    if grep -E 'libQt6(Widgets|Gui)' <<<"$needed"; then
        echo "FAIL $(basename "$program") needs the libraries above"
        failed=1
    else
        echo "ok   $(basename "$program")"
    fi
done
exit $failed
