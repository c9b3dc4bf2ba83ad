#!/bin/sh
# The Windows capture tool under Wine must show the same frames as the
# Linux one: the same 'frames N hash H' line for each run.
# Usage: same_frames.sh NATIVE_CAPTURE WINDOWS_CAPTURE_EXE SOURCE_DIR
set -u
native=$1
windows=$2
src=$3
wine=$(dirname "$0")/wine-run
passed=0
failed=0

# compare NAME THREADS ARGS...: THREADS is NEBLA_THREADS for both runs
# (empty: the tool's own choice).
compare() {
  name=$1
  threads=$2
  shift 2
  want=$(NEBLA_THREADS=$threads "$native" "$@" --hash 2>linux.err | grep '^frames ')
  got=$(NEBLA_THREADS=$threads "$wine" "$windows" "$@" --hash 2>windows.err | tr -d '\r' |
    grep '^frames ')
  if [ -n "$want" ] && [ "$want" = "$got" ]; then
    echo "ok   $name: $want"
    passed=$((passed + 1))
  else
    echo "FAIL $name: Linux '$want', Windows '$got'"
    echo "Linux said:" && tail -3 linux.err
    echo "Windows said:" && tr -d '\r' <windows.err | tail -3
    failed=$((failed + 1))
  fi
}

compare "demonstration (spray, picture, wind, light, overlay, writer, outro)" "" --script "$src/scripts/demo.script"
compare "full load, 300 frame steps" "" --script "$src/bench/full-load.script" --frames 300
compare "full load on one thread, 100 frame steps" 1 --script "$src/bench/full-load.script" --frames 100
compare "the README's session" "" --script "$src/docs/session.script"
compare "the README's stills" "" --script "$src/docs/stills.script"
compare "no input, 100 frame steps" "" --frames 100
compare "a failing Flip every frame, 50 frame steps" "" --frames 50 --fail Flip
rm -f linux.err windows.err
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
