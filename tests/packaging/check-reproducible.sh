#!/usr/bin/env bash
# Builds the Debian packages a second time, from the same tree in another build folder, and
# compares them byte for byte with those of `make package`: nothing of the build's time or
# place may get into them. On a difference it names the files inside that differ.
#   check-reproducible.sh <source folder> <folder of make package's .deb files> <second build folder>
set -u
source=$1
first=$2
second=$3
failed=0
fail() { echo "FAIL: $*"; failed=1; }

ls "$first"/*.deb >/dev/null 2>&1 || { echo "FAIL: no packages in $first (run make package)"; exit 1; }
cmake -S "$source" --preset package -B "$second" >/dev/null || { echo "FAIL: cmake could not configure $second"; exit 1; }
rm -rf "$second/packages"
cmake --build "$second" --parallel "$(nproc)" >/dev/null &&
    cmake --build "$second" --target debian-packages >/dev/null ||
    { echo "FAIL: the second build did not make its packages"; exit 1; }

for deb in "$first"/*.deb; do
    name=$(basename "$deb")
    again="$second/packages/$name"
    [ -f "$again" ] || { fail "the second build made no $name"; continue; }
    if cmp -s "$deb" "$again"; then
        echo "same bytes: $name"
        continue
    fi
    fail "$name differs between the two builds"
    scratch=$(mktemp -d)
    for side in one two; do
        mkdir -p "$scratch/$side/files" "$scratch/$side/control"
    done
    dpkg-deb -R "$deb" "$scratch/one/files" && dpkg-deb -R "$again" "$scratch/two/files"
    diff -rq "$scratch/one/files" "$scratch/two/files" | sed "s|$scratch/||g"
    rm -rf "$scratch"
done
[ "$failed" -eq 0 ] && echo "PASS"
exit "$failed"
