#!/bin/sh
# The capture tool's command line: a bad option or script is refused with
# status 2 and nothing run; a good run ends through the program's own exit.
set -u
capture=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

"$capture" --frames 0 >/dev/null 2>&1
[ $? -eq 2 ] || fail "--frames 0 should give status 2"
"$capture" --bogus >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown option should give status 2"

printf '0 mouse 1 2\n10 key down x\n' > bad.script
err=$("$capture" --script bad.script 2>&1 >/dev/null)
[ $? -eq 2 ] || fail "a bad script should give status 2"
case "$err" in *bad.script:2:*) ;; *) fail "no FILE:LINE in: $err" ;; esac
[ ! -e Nebla.log ] || fail "nothing should run for a bad script"

out=$("$capture" --frames 3 --hash) || fail "a good run should exit 0"
case "$out" in "frames "*" hash "*) ;; *) fail "no hash line in: $out" ;; esac
[ -f Nebla.log ] && [ ! -s Nebla.log ] || fail "a good run leaves an empty Nebla.log"

"$capture" --frames 3 --fail SetDisplayMode >/dev/null 2>&1
[ $? -eq 1 ] || fail "a failed start should give status 1"
grep -q "failed to set Displaymode" Nebla.log || fail "the failure is logged"
echo "1 passed, 0 failed"
