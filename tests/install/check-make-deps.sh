#!/usr/bin/env bash
# `make run` installs what building and running need and nothing of the test tools; `make test`
# installs those too. Read from what make would run (-n), so nothing is installed here.
#   check-make-deps.sh <source folder>
set -u
cd "$1" || exit 1
failed=0
fail() { echo "FAIL $*"; failed=1; }
test_only="postgresql xvfb openbox xdotool chromium chromium-driver lintian appstream systemd clang clang-format help2man"

run=$(make -n run 2>&1 | grep -m1 'for p in')
[ -n "$run" ] || fail "make -n run shows no package list"
for p in qt6-base-dev libsqlite3-dev libpq-dev fonts-wine fonts-dejavu-core; do
    grep -qw -- "$p" <<<"$run" || fail "make run does not install $p"
done
for p in $test_only; do
    grep -qw -- "$p" <<<"$run" && fail "make run installs $p, which only the tests need"
done

test=$(make -n test 2>&1 | grep -m1 'for p in')
for p in qt6-base-dev $test_only; do
    grep -qw -- "$p" <<<"$test" || fail "make test does not install $p"
done
[ "$failed" -eq 0 ] && echo "PASS: make run installs what running needs, make test the rest"
exit "$failed"
