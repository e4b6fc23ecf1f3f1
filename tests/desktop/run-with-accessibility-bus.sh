#!/usr/bin/env bash
# Runs a program in a D-Bus session of its own, in which the accessibility bus starts on first
# use, as on a desktop with a screen reader. Its sockets go to a private runtime folder, so that
# tests running side by side do not share one.
#   run-with-accessibility-bus.sh program [arguments]
set -u
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
dbus-run-session -- "$@"
