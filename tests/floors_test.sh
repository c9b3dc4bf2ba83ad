#!/bin/sh
# The floors check: the tree as it is passes, and an include planted to look
# up (the platform reaching the loop) is named by file and line.
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
check=$1
source_root=$2

if out=$("$check" --root "$source_root" 2>&1); then pass; else fail "the tree breaks its floors: $out"; fi

mkdir -p tree
cp -R "$source_root/src" "$source_root/tools" "$source_root/bench" tree/
lines=$(wc -l < tree/src/platform/kernel.h)
echo '#include "app/entry.h"' >> tree/src/platform/kernel.h
echo '#include "nowhere/lost.h"' >> tree/src/diag/log.h
out=$("$check" --root "$dir/tree" 2>&1)
status=$?
[ "$status" -eq 1 ] && pass || fail "a planted upward include ended with status $status"
echo "$out" | grep -q "^src/platform/kernel.h:$((lines + 1)): platform may not include \"app/entry.h\"" && pass ||
  fail "the planted include was not named: $out"
echo "$out" | grep -q '^src/diag/log.h:[0-9]*: "nowhere/lost.h" is in no room' && pass ||
  fail "an include outside every room was not named: $out"
finish_checks
