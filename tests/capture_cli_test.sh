#!/bin/sh
# The capture tool's command line: a bad option, fault rule, script or
# output directory is refused with status 2 and nothing run; a good run ends
# through the program's own exit. Every check counts; any failure fails the
# test.
set -u
script_dir=$(cd "$(dirname "$0")/.." && pwd)
. "$script_dir/tests/checks.sh"

"$capture" --frames 0 >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "--frames 0 should give status 2"
"$capture" --bogus >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "an unknown option should give status 2"

err=$("$capture" --frames 3 --fail Bogus 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "an unknown call in --fail should give status 2"
case "$err" in *Bogus*SetDisplayMode*) pass ;; *) fail "the known calls are not listed: $err" ;; esac
[ ! -e Nebla.log ] && pass || fail "nothing should run for a bad fault rule"

err=$("$capture" --frames 3 --png /proc/nope 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "an uncreatable --png directory should give status 2"
case "$err" in *"cannot create /proc/nope"*) pass ;; *) fail "no reason given: $err" ;; esac
: > plain-file
"$capture" --frames 3 --png plain-file/frames >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "a --png directory under a file should give status 2"
[ ! -e Nebla.log ] && pass || fail "nothing should run for a bad output directory"

printf '0 mouse 1 2\n10 key down x\n' > bad.script
err=$("$capture" --script bad.script 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "a bad script should give status 2"
case "$err" in *bad.script:2:*) pass ;; *) fail "no FILE:LINE in: $err" ;; esac
[ ! -e Nebla.log ] && pass || fail "nothing should run for a bad script"

# --text: a text that is not UTF-8 or cannot be read is refused before
# anything runs; a good one is spelt instead of the built-in text, from a
# file or standard input alike, and the characters it has no glyph for are
# named once. A run without --text keeps its golden frames.
printf 'caf\351\n' > latin1.txt
err=$("$capture" --frames 3 --text latin1.txt 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "a text that is not UTF-8 should give status 2"
[ "$err" = "nebla-capture: latin1.txt: not UTF-8 (line 1)" ] && pass || fail "not told why: $err"
"$capture" --frames 3 --text no-such.txt >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "a missing text should give status 2"
[ ! -e Nebla.log ] && pass || fail "nothing should run for a refused text"
printf 'Snow \342\230\203, and \342\230\203 \342\202\254!\n' > words.txt
err=$("$capture" --frames 80 --hash --text words.txt 2>&1 >words.hash)
[ $? -eq 0 ] && pass || fail "a run with --text should exit 0"
[ "$err" = "$(printf 'nebla-capture: no glyph for: \342\230\203 \342\202\254 (left empty)')" ] && pass || fail "the characters without a glyph are not named once: $err"
out=$("$capture" --frames 80 --hash --text - <words.txt 2>/dev/null)
[ "$out" = "$(cat words.hash)" ] && pass || fail "--text - should spell standard input: $out"
# The words are the run's first event: a script that starts with them as
# its text line gives the same frames.
printf '0 text "Snow \342\230\203, and \342\230\203 \342\202\254!\\n"\n' > words.script
out=$("$capture" --frames 80 --hash --script words.script 2>/dev/null)
[ "$out" = "$(cat words.hash)" ] && pass || fail "a script's text line should be --text: $out"
out=$("$capture" --frames 80 --hash)
[ "$out" = "frames 172 hash ae433b705c48e998" ] && pass || fail "the built-in text's frames changed: $out"
[ "$out" != "$(cat words.hash)" ] && pass || fail "--text made no difference"
rm -f Nebla.log

# --text-program and --text-literal spell the same words as --text, and the
# log names the source; a program that gives no text is refused before
# anything runs, and so are two sources without --text-mode to pick one.
printf 'Line one\nline two\n' > two.txt
"$capture" --frames 80 --hash --text two.txt >two.hash 2>/dev/null
out=$("$capture" --frames 80 --hash --text-program 'cat two.txt' 2>/dev/null)
[ "$out" = "$(cat two.hash)" ] && pass || fail "--text-program should spell what it prints: $out"
line=$(head -n 1 Nebla.log)
[ "$line" = "text: 1 page from the program 'cat two.txt'" ] && pass || fail "the log does not name the program: $line"
out=$("$capture" --frames 80 --hash --text-literal 'Line one\nline two' 2>/dev/null)
[ "$out" = "$(cat two.hash)" ] && pass || fail "--text-literal should spell its words, \\n a line break: $out"
out=$("$capture" --frames 80 --hash --text-mode file --text two.txt --text-program 'exit 3' --text-literal x 2>/dev/null)
[ "$out" = "$(cat two.hash)" ] && pass || fail "--text-mode file should take the file alone: $out"
rm -f Nebla.log
err=$("$capture" --frames 3 --text-program 'echo partial; exit 3' 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "a program that fails should give status 2"
[ "$err" = "nebla-capture: the text program 'echo partial; exit 3': exited with status 3" ] && pass || fail "not told why: $err"
[ ! -e Nebla.log ] && pass || fail "nothing should run for a program that gives no text"
"$capture" --frames 3 --text two.txt --text-program 'cat two.txt' >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "two text sources should give status 2"

out=$("$capture" --frames 3 --hash) && pass || fail "a good run should exit 0"
case "$out" in "frames "*" hash "*) pass ;; *) fail "no hash line in: $out" ;; esac
[ -f Nebla.log ] && [ ! -s Nebla.log ] && pass || fail "a good run leaves an empty Nebla.log"

"$capture" --frames 3 --png frames --every 2 >/dev/null 2>&1 && pass || fail "a run writing PNG files should exit 0"
[ -f frames/frame-00002.png ] && [ ! -e frames/frame-00001.png ] && pass || fail "--every 2 keeps every second frame"

"$capture" --frames 3 --fail SetDisplayMode >/dev/null 2>&1
[ $? -eq 1 ] && pass || fail "a failed start should give status 1"
grep -q "failed to set Displaymode" Nebla.log && pass || fail "the failure is logged"
# No run can hang: a script that leaves the program inactive ends the run
# through the outro, short of its frames (status 3), and says why.
printf '400 focus lost\n' > inactive.script
err=$(timeout 60 "$capture" --script inactive.script --frames 3 2>&1 >/dev/null)
status=$?
[ $status -eq 3 ] && pass || fail "an inactive end short of --frames should give status 3, got $status"
case "$err" in *inactive*) pass ;; *) fail "no reason given for the early end: $err" ;; esac
printf '400 focus lost\n3000 focus gained\n' > back.script
timeout 60 "$capture" --script back.script --frames 3 >/dev/null 2>&1 && pass || fail "focus that comes back lets the run reach its frames"
err=$(timeout 60 "$capture" --seconds 3 --time 2>&1)
[ $? -eq 0 ] && pass || fail "a run ended by --seconds should exit 0"
case "$err" in *"limit of 3.000 s"*"for "*" 20 frame steps"*) pass ;; *) fail "3 s of virtual time are 20 frame steps after the 2 s pause: $err" ;; esac
"$capture" --seconds 0 >/dev/null 2>&1
[ $? -eq 2 ] && pass || fail "--seconds 0 should give status 2"

# Every end short of --frames says why, once: the script's own close (as the
# README's example script ends) or Escape, and when it came.
printf '0 mouse 320 240\n2600 close\n' > close.script
err=$(timeout 60 "$capture" --script close.script --frames 200 2>&1 >/dev/null)
[ $? -eq 3 ] && pass || fail "a close before --frames should give status 3"
[ "$err" = "nebla-capture: ended after 12 of 200 frame steps: the script's close at 2600 ms" ] && pass || fail "the close is not told once: $err"
printf '2600 key down esc\n' > esc.script
err=$(timeout 60 "$capture" --script esc.script 2>&1 >/dev/null)
[ $? -eq 0 ] && pass || fail "the script's Escape should end the run with status 0"
[ "$err" = "nebla-capture: ended after 12 frame steps: the script's Escape at 2600 ms" ] && pass || fail "the Escape is not told once: $err"
err=$("$capture" --frames 3 2>&1 >/dev/null)
[ -z "$err" ] && pass || fail "a run that reaches --frames should say nothing: $err"

# Whatever platform call fails, every time, the run ends: by the program's
# own exit, the outro, or the tool giving up with status 4 and a reason; a
# run short of its frames says so. A run that presents nothing more is given
# up 10 s of real time after its last frame, not later.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
calls=$("$capture" --fail x 2>&1 | sed 's/.*one of://')
[ -n "$calls" ] && pass || fail "no list of calls"
stuck=0
for call in $calls; do
  started=$(now_ms)
  err=$(timeout 60 "$capture" --frames 50 --fail "$call" 2>&1 >/dev/null)
  status=$?
  took=$(($(now_ms) - started))
  case $status in
    0 | 1) pass ;;
    3) case "$err" in *"ended after "*" of 50 frame steps: "*) pass ;; *) fail "--fail $call: status 3 without a reason: $err" ;; esac ;;
    4) case "$err" in *"giving up"*) pass ;; *) fail "--fail $call: status 4 without a reason: $err" ;; esac ;;
    *) fail "--fail $call: the run did not end properly (status $status)" ;;
  esac
  case "$err" in
    *"no frame for 10 s"*)
      stuck=$((stuck + 1))
      [ "$took" -ge 10000 ] && [ "$took" -lt 15000 ] && pass || fail "--fail $call: given up after $took ms"
      ;;
  esac
done
[ $stuck -gt 0 ] && pass || fail "no --fail rule left the program presenting nothing (PeekMessageA did)"

# A disk that fills up mid-run: the third frame's file is the full device.
# The run stops there, says so and fails.
mkdir full && ln -s /dev/full full/frame-00003.png
err=$(timeout 60 "$capture" --frames 50 --png full 2>&1 >/dev/null)
status=$?
[ $status -ne 0 ] && [ $status -ne 2 ] && pass || fail "a failed frame write should fail the run, got status $status"
case "$err" in *"cannot write full/frame-00003.png"*) pass ;; *) fail "the failed file is not named: $err" ;; esac
[ -f full/frame-00002.png ] && [ ! -e full/frame-00010.png ] && pass || fail "the run should stop at the failed frame"

# --record writes back the input the program got: recording a replay of a
# script gives the script's events again, and replaying the recording gives
# the same frames.
first=$("$capture" --script "$script_dir/scripts/demo.script" --record rec.script --hash) && pass || fail "a recorded run should exit 0"
second=$("$capture" --script rec.script --record rec2.script --hash) && pass || fail "a replay of a recording should exit 0"
[ -n "$first" ] && [ "$first" = "$second" ] && pass || fail "the replay shows other frames: '$first' then '$second'"
grep -v '^#' "$script_dir/scripts/demo.script" | sed 's/#.*//' | awk 'NF { $1 = $1; print }' > demo.events
grep -v '^#' rec.script > rec.events
cmp -s demo.events rec.events && pass || fail "the recording's events differ from the script's"
cmp -s rec.script rec2.script && pass || fail "recording a replay of a recording changed it"
err=$("$capture" --frames 3 --record /proc/nope.script 2>&1 >/dev/null)
[ $? -eq 2 ] && pass || fail "an unwritable --record file should give status 2"
case "$err" in *"cannot record to /proc/nope.script"*) pass ;; *) fail "no reason given: $err" ;; esac

# The same frames with one thread and with two: spray, light and overlay.
{
  echo "0 mouse 320 240"
  echo "2100 key down shift"
  t=2110
  for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    echo "$t key down c"; echo "$((t + 1)) key up c"; t=$((t + 2))
  done
  echo "$t key up shift"
  echo "2300 key down space"
  echo "2310 key up space"
  echo "2320 key down d"
  echo "2330 key up d"
  echo "2400 left down"
  echo "2500 mouse 200 300"
  echo "4000 mouse 500 100"
} > load.script
one=$(NEBLA_THREADS=1 "$capture" --script load.script --frames 120 --hash) && pass || fail "a one-thread run should exit 0"
two=$(NEBLA_THREADS=2 "$capture" --script load.script --frames 120 --hash) && pass || fail "a two-thread run should exit 0"
[ -n "$one" ] && [ "$one" = "$two" ] && pass || fail "one thread gave '$one', two gave '$two'"
finish_checks
