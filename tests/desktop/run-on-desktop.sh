#!/usr/bin/env bash
# Runs a program on a desktop of its own: a private X server (Xvfb) on a display it picks as
# free, with the openbox window manager. Both stop when the program ends.
#   run-on-desktop.sh WIDTHxHEIGHT program [arguments]
set -u
size=$1
shift
work=$(mktemp -d)
xvfb=
wm=
cleanup() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes the number of the display it took once it accepts clients.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$work/display" \
    2>"$work/xvfb.log" &
xvfb=$!
if ! read -r -t 30 number <"$work/display"; then
    echo "Xvfb did not start:"
    cat "$work/xvfb.log"
    exit 1
fi
export DISPLAY=":$number"

# openbox announces itself on the root window once it manages the screen.
openbox --sm-disable 2>"$work/openbox.log" &
wm=$!
for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    kill -0 "$wm" 2>/dev/null || break
    sleep 0.1
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    echo "openbox did not start:"
    cat "$work/openbox.log"
    exit 1
fi

QT_QPA_PLATFORM=xcb "$@"
