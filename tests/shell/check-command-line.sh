#!/usr/bin/env bash
# orvane answers --help and --version on the terminal and exits, with or without a display;
# without a display and without those it says so and exits 1 instead of aborting; an option
# that is neither its own nor Qt's is refused with exit 2, before any window opens.
#   check-command-line.sh <orvane> <version>
set -u
orvane=$1
version=$2
failed=0
fail() { echo "FAIL $*"; failed=1; }

for display in none offscreen; do
    if [ "$display" = none ]; then
        run() { timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$orvane" "$@"; }
    else
        run() { timeout 20 env QT_QPA_PLATFORM=offscreen "$orvane" "$@"; }
    fi
    for option in --version -v; do
        out=$(run "$option" 2>&1); code=$?
        [ "$code" -eq 0 ] || fail "$display $option: exit $code: $out"
        [ "$out" = "orvane $version" ] || fail "$display $option printed: $out"
    done
    for option in --help -h; do
        out=$(run "$option" 2>&1); code=$?
        [ "$code" -eq 0 ] || fail "$display $option: exit $code: $out"
        head -n 1 <<<"$out" | grep -qx 'Usage: orvane \[OPTION\]\.\.\.' ||
            fail "$display $option printed: $out"
        grep -q -- '--version' <<<"$out" || fail "$display $option does not list --version"
    done
done

out=$(timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$orvane" 2>&1); code=$?
[ "$code" -eq 1 ] || fail "no display: exit $code: $out"
grep -q '^orvane: no display' <<<"$out" || fail "no display printed: $out"

out=$(timeout 20 env QT_QPA_PLATFORM=offscreen "$orvane" --bogus 2>&1); code=$?
[ "$code" -eq 2 ] || fail "--bogus: exit $code: $out"
grep -q "^orvane: unknown option '--bogus'" <<<"$out" || fail "--bogus printed: $out"

[ "$failed" -eq 0 ] && echo "PASS: --help and --version with and without a display, no display, unknown option"
exit "$failed"
