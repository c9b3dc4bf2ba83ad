#!/bin/sh
# The WebAssembly capture tool under node must show the same frames as the
# native one: the same 'frames N hash H' line for each script, and refuse
# the options that write frames to files.
# Usage: same_frames.sh NATIVE_CAPTURE WASM_CAPTURE_JS SOURCE_DIR
set -u
native=$1
wasm=$2
src=$3
passed=0
failed=0

compare() {
  name=$1
  shift
  want=$("$native" "$@" --hash 2>/dev/null | grep '^frames ')
  got=$(node --no-experimental-fetch "$wasm" "$@" --hash 2>/dev/null | grep '^frames ')
  if [ -n "$want" ] && [ "$want" = "$got" ]; then
    echo "ok   $name: $want"
    passed=$((passed + 1))
  else
    echo "FAIL $name: native '$want', WebAssembly '$got'"
    failed=$((failed + 1))
  fi
}

compare "demonstration (spray, picture, wind, light, overlay, writer, outro)" --script "$src/scripts/demo.script"
compare "full load, 300 frame steps" --script "$src/bench/full-load.script" --frames 300
compare "no input, 100 frame steps" --frames 100
# It writes no files of frames: --png and --video are refused before a run,
# each by name.
for option in --png --video; do
  err=$(node --no-experimental-fetch "$wasm" --frames 3 "$option" out.webm 2>&1 >/dev/null)
  status=$?
  case "$status $err" in
    "2 "*"$option"*"the Linux build does"*)
      echo "ok   $option is refused: $err"
      passed=$((passed + 1)) ;;
    *)
      echo "FAIL $option: status $status, '$err'"
      failed=$((failed + 1)) ;;
  esac
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
