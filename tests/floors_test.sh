#!/bin/sh
# The floors check: the tree as it is passes, and includes planted against
# the table are named by file and line: the platform reaching up to the loop,
# the loop reaching a backend (only the entry floor includes backends), and a
# backend reaching past the platform into the program.
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
check=$1
source_root=$2

if out=$("$check" --root "$source_root" 2>&1); then pass; else fail "the tree breaks its floors: $out"; fi

mkdir -p tree
cp -R "$source_root/src" "$source_root/tools" "$source_root/bench" tree/
lines=$(wc -l < tree/src/platform/kernel.h)
echo '#include "app/entry.h"' >> tree/src/platform/kernel.h
echo '#include "nowhere/lost.h"' >> tree/src/diag/log.h
echo '#include "platform/sdl/sdl_backend.h"' >> tree/src/app/frame_step.cpp
echo '#include "state/application.h"' >> tree/src/platform/pilot/autopilot.cpp
out=$("$check" --root "$dir/tree" 2>&1)
status=$?
[ "$status" -eq 1 ] && pass || fail "a planted upward include ended with status $status"
echo "$out" | grep -q "^src/platform/kernel.h:$((lines + 1)): platform may not include \"app/entry.h\"" && pass ||
  fail "the planted include was not named: $out"
echo "$out" | grep -q '^src/app/frame_step.cpp:[0-9]*: app may not include "platform/sdl/sdl_backend.h"' && pass ||
  fail "the loop including a backend was not named: $out"
echo "$out" | grep -q '^src/platform/pilot/autopilot.cpp:[0-9]*: platform/pilot may not include "state/application.h"' && pass ||
  fail "a backend including the program's data was not named: $out"
echo "$out" | grep -q '^src/diag/log.h:[0-9]*: "nowhere/lost.h" is in no room' && pass ||
  fail "an include outside every room was not named: $out"
finish_checks
