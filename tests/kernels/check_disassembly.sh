#!/usr/bin/env bash
# Reads libkalvex.so's machine code and fails when a kernel was vectorised or fused, uses x87
# instead of scalar SSE2, or when the prime kernel no longer calls floor for each quotient or
# takes its square root at run time.
set -u
objdump=$1
library=$2
failed=0
[ "$(uname -m)" = x86_64 ] || { echo "not x86-64: nothing to check"; exit 0; }

listing=$("$objdump" -d --no-show-raw-insn "$library") || { echo "objdump failed"; exit 1; }

body() { # the instructions of one exported function
    awk -v name="$1" '
        $0 ~ "^[0-9a-f]+ <" name ">:$" { inside = 1; next }
        inside && /^$/ { exit }
        inside { print }' <<<"$listing"
}

for kernel in addition subtraction multiplication division prime pi power; do
    code=$(body "$kernel")
    if [ -z "$code" ]; then
        echo "FAIL $kernel: not found in the library"; failed=1; continue
    fi
    packed=$(grep -E -i '\bv?(add|sub|mul|div|sqrt|hadd|hsub|addsub|max|min)p[sd]\b|fn?m(add|sub)|%[yz]mm' <<<"$code")
    if [ -n "$packed" ]; then
        echo "FAIL $kernel: packed or fused floating-point instructions:"; echo "$packed"; failed=1
    fi
    if grep -E -q '\bf(add|sub|mul|div)p?\b|\bfld' <<<"$code"; then
        echo "FAIL $kernel: x87 floating point instead of scalar SSE2"; failed=1
    fi
    if ! grep -E -q '\b(add|sub|mul|div)sd\b' <<<"$code"; then
        echo "FAIL $kernel: no scalar double arithmetic found"; failed=1
    fi
done

if ! body prime | grep -E -q 'call.*<floor(@plt)?>'; then
    echo "FAIL prime: no call to floor"; failed=1
fi
# The bound is the square root of the candidate taken at run time, inside the timed part; a
# compiler that folds it into a constant leaves neither instruction nor call behind.
root=$(body prime | grep -n -m1 -E '\bv?sqrtsd\b|call.*<sqrt(@plt)?>' | cut -d: -f1)
clock=$(body prime | grep -n -m1 -E 'call.*<clock_gettime(@plt)?>' | cut -d: -f1)
if [ -z "$root" ]; then
    echo "FAIL prime: the square root is not computed at run time"; failed=1
elif [ -z "$clock" ] || [ "$root" -lt "$clock" ]; then
    echo "FAIL prime: the square root is taken before the first clock reading"; failed=1
fi

[ "$failed" -eq 0 ] && echo "PASS: every kernel is scalar SSE2, unfused; prime calls floor and takes its square root"
exit "$failed"
