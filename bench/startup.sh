#!/usr/bin/env bash
# Runs startup-bench five times and prints each run's figures. Uses Xvfb when it is installed,
# so the window is really mapped and painted; the offscreen platform otherwise.
set -u
bench=$1
run() { for i in 1 2 3 4 5; do "$@" 2>/dev/null | tr '\n' ' '; echo; done; }
if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f run); run env QT_QPA_PLATFORM=xcb '$bench'"
else
    run env QT_QPA_PLATFORM=offscreen "$bench"
fi
