#!/usr/bin/env bash
# scored-bench answers --help with its usage and refuses what it does not know, starting no
# server and creating nothing.
#   check-bench-options.sh <scored-bench>
set -u
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0

out=$(timeout 20 "$bench" --help 2>&1); code=$?
[ "$code" -eq 0 ] || { echo "FAIL --help: exit $code"; failed=1; }
grep -q '^usage: scored-bench SERVER' <<<"$out" || { echo "FAIL --help printed: $out"; failed=1; }

for arguments in "--bogus" "/bin/true --bogus" "/bin/true --connections" "/bin/true --slow" ""; do
    # shellcheck disable=SC2086
    out=$(timeout 20 "$bench" $arguments 2>&1); code=$?
    [ "$code" -eq 2 ] || { echo "FAIL '$arguments': exit $code: $out"; failed=1; }
done

leftovers=$(ls -A)
[ -z "$leftovers" ] || { echo "FAIL: it created $leftovers"; failed=1; }
[ "$failed" -eq 0 ] && echo "PASS: usage on --help, exit 2 on unknown options, nothing created"
exit "$failed"
