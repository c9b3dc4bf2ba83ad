#!/bin/sh
# The Windows capture tool's own behaviour under Wine: --png and --video
# are refused in words, and a run that a fault rule keeps from ending is
# given up by the watchdog thread with status 4.
# Usage: capture_exe_test.sh NEBLA_CAPTURE_EXE
set -u
capture=$1
wine=$(dirname "$0")/wine-run
failed=0
fail() {
  echo "FAIL $1"
  failed=1
}

for option in "--png frames" "--video run.mp4"; do
  # shellcheck disable=SC2086
  err=$("$wine" "$capture" --frames 3 $option 2>&1 >/dev/null)
  status=$?
  [ $status -eq 2 ] || fail "$option: status $status, not 2"
  case "$err" in *"writes no PNG files or videos"*) ;; *) fail "$option: no reason given: $err" ;; esac
done
[ ! -e frames ] && [ ! -e run.mp4 ] || fail "a refused run left files"

err=$(timeout 120 "$wine" "$capture" --frames 50 --fail PeekMessageA 2>&1 >/dev/null)
status=$?
[ $status -eq 4 ] || fail "a run that cannot end: status $status, not 4"
case "$err" in *"giving up"*) ;; *) fail "a run that cannot end: no reason given: $err" ;; esac

[ $failed -eq 0 ] && echo "all passed"
exit $failed
