#!/usr/bin/env bash
# Reads the machine code of the chains that time the processor's clock and fails when one of
# them uses an instruction that a register renamer can fold: an addition or subtraction of an
# immediate, inc, or lea. Golden Cove and later cores run chains of those several a cycle, so
# a clock timed over them reads two to four times too high.
set -u
objdump=$1
binary=$2
[ "$(uname -m)" = x86_64 ] || { echo "not x86-64: nothing to check"; exit 0; }

listing=$("$objdump" -d --no-show-raw-insn "$binary") || { echo "objdump failed"; exit 1; }
chains=$(grep -E -o '^[0-9a-f]+ <orvane_clock_chain_[a-z]+>:$' <<<"$listing" | sed -E 's/.*<(.*)>:/\1/')
[ -n "$chains" ] || { echo "FAIL: no clock chain found in $binary"; exit 1; }

failed=0
for chain in $chains; do
    code=$(awk -v name="$chain" '
        $0 ~ "^[0-9a-f]+ <" name ">:$" { inside = 1; next }
        inside && /^$/ { exit }
        inside { print }' <<<"$listing")
    foldable=$(grep -E '\b(add|sub)[bwlq]?\s+\$|\binc[bwlq]?\b|\blea[lq]?\b' <<<"$code")
    if [ -n "$foldable" ]; then
        echo "FAIL $chain: instructions a renamer can fold:"; echo "$foldable"; failed=1
    fi
    links=$(grep -c -E '\b(add|imul)[lq]?\s+%r[a-z0-9]+,%r[a-z0-9]+' <<<"$code")
    if [ "$links" -lt 8 ]; then
        echo "FAIL $chain: $links register-to-register links, expected eight a round"; failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "PASS: the clock chains ($(echo $chains)) hold no foldable instruction"
exit "$failed"
