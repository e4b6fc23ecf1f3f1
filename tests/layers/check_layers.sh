#!/usr/bin/env bash
# Fails when a library that must do without a screen uses Qt Widgets or Qt Gui: it lists the
# symbols each library needs from elsewhere and looks them up among those the two Qt libraries
# define. The logic of every subsystem, the core and the server are checked this way, so a
# headless program can link them.
# Usage: check_layers.sh <nm> <libQt6Widgets.so> <libQt6Gui.so> <library.a>...
set -u
nm=$1
widgets=$2
gui=$3
shift 3

forbidden=$(mktemp)
trap 'rm -f "$forbidden"' EXIT
"$nm" -D --defined-only "$widgets" "$gui" | awk 'NF == 3 { sub(/@.*/, "", $3); print $3 }' | sort -u >"$forbidden"
[ -s "$forbidden" ] || { echo "FAIL: no symbols read from $widgets and $gui"; exit 1; }

failed=0
for library in "$@"; do
    used=$("$nm" -u "$library" | awk '{ print $NF }' | sort -u | comm -12 - "$forbidden")
    if [ -n "$used" ]; then
        echo "FAIL $(basename "$library") uses Qt Widgets or Qt Gui:"
        "$nm" -C -u "$library" | awk '{ $1 = ""; print }' | sort -u |
            grep -F -f <(c++filt <<<"$used") | head -20
        failed=1
    else
        echo "ok   $(basename "$library")"
    fi
done
exit $failed
