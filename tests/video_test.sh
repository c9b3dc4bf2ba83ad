#!/bin/sh
# Videos straight from the capture tool: ffprobe finds every frame at its
# size and duration in each format, and whatever goes wrong (no ffmpeg, a
# failing ffmpeg, an unwritable file, a bad scale) is refused in words and
# leaves no file that looks finished. Every check counts.
set -u
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
probe() { ffprobe -v error -count_frames -select_streams v:0 "$@"; }

# Scale 1, 2 and 4 across the three formats: 20 frame steps, the set-up's
# pause and the outro.
for case in "mp4 1" "webm 2" "gif 4" "mp4 3"; do
  set -- $case
  out=$("$capture" --frames 20 --video "v.$1" --scale "$2" --time 2>/dev/null) && pass || fail "$1 x$2: status $?"
  count=$(echo "$out" | sed -n 's/^video: \([0-9]*\) frames.*/\1/p')
  [ -n "$count" ] && [ "$count" -gt 150 ] && pass || fail "$1: the set-up's 2 s and 20 frame steps need over 150 frames, got '$count'"
  got=$(probe -show_entries stream=nb_read_frames,width,height -of csv=p=0 "v.$1")
  [ "$got" = "$((640 * $2)),$((480 * $2)),$count" ] && pass || fail "$1 x$2: ffprobe says $got, want $((640 * $2)),$((480 * $2)),$count"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "v.$1")
  want=$(awk "BEGIN { printf \"%.2f\", $count / 50 }")
  awk "BEGIN { exit !($duration - $want < 0.05 && $want - $duration < 0.05) }" && pass || fail "$1: duration $duration, want $want"
  [ ! -e "v.$1.part" ] && pass || fail "$1: the temporary file was left"
done

# Sharp pixels: at scale 2 every picture pixel is a 2x2 block of one colour.
ffmpeg -v error -y -ss 2.5 -i v.webm -frames:v 1 -f rawvideo -pix_fmt gray still.gray 2>/dev/null
python3 - still.gray <<'PY' && pass || fail "the enlarged picture is not in 2x2 blocks"
import sys
data = open(sys.argv[1], "rb").read()
w = 1280
assert len(data) == w * 960
bad = sum(1 for y in range(0, 960, 2) for x in range(0, w, 2)
          if max(data[y*w+x], data[y*w+x+1], data[(y+1)*w+x], data[(y+1)*w+x+1]) -
             min(data[y*w+x], data[y*w+x+1], data[(y+1)*w+x], data[(y+1)*w+x+1]) > 24)
sys.exit(0 if bad < 0.002 * 640 * 480 else 1)
PY

# Frames sit at their virtual times: key 3 at 3 s turns the picture grey,
# and the video shows the change 3 s in, the set-up's pause included.
printf '0 mouse 320 240\n2100 left down\n3000 key down 3\n3010 key up 3\n' > grey.script
"$capture" --script grey.script --frames 40 --video grey.mp4 >/dev/null 2>&1 && pass || fail "the grey run failed"
for at in 2.7 3.3; do
  ffmpeg -v error -y -ss "$at" -i grey.mp4 -frames:v 1 -f rawvideo -pix_fmt rgb24 "at-$at.rgb" 2>/dev/null
done
python3 - at-2.7.rgb at-3.3.rgb <<'PY' && pass || fail "the ramp change is not at 3 s in the video"
import sys
def colours(path):
    data = open(path, "rb").read()
    bright = [data[i:i + 3] for i in range(0, len(data), 3) if max(data[i:i + 3]) > 60]
    assert len(bright) > 50, "nothing bright to judge by"
    spread = sum(max(p) - min(p) for p in bright) / len(bright)
    return spread, sum(p[0] for p in bright) / len(bright), sum(p[2] for p in bright) / len(bright)
before, after = colours(sys.argv[1]), colours(sys.argv[2])
# The first ramp is blue, so red and blue swapped in the palette show too.
sys.exit(0 if before[0] > 25 and before[2] > before[1] + 30 and after[0] < 10 else 1)
PY

# Refusals, each before anything runs (no Nebla.log) and with a reason.
check_refused() {
  what=$1
  shift
  rm -f Nebla.log
  err=$("$@" 2>&1 >/dev/null)
  status=$?
  [ $status -eq 2 ] && pass || fail "$what: status $status, want 2"
  [ -n "$err" ] && pass || fail "$what: no reason given"
  [ ! -e Nebla.log ] && pass || fail "$what: the program ran"
}
check_refused "--scale 0" "$capture" --frames 5 --video v.mp4 --scale 0
check_refused "--scale 5" "$capture" --frames 5 --video v.mp4 --scale 5
check_refused "an unknown format" "$capture" --frames 5 --video v.avi
check_refused "an unwritable file" "$capture" --frames 5 --video /proc/nebla.mp4
mkdir bin
check_refused "no ffmpeg on PATH" env PATH="$dir/bin" "$capture" --frames 5 --video gone.mp4
[ ! -e gone.mp4 ] && [ ! -e gone.mp4.part ] && pass || fail "a refused video left a file"
case "$(env PATH="$dir/bin" "$capture" --frames 5 --video gone.mp4 2>&1)" in
  *"ffmpeg not found"*) pass ;; *) fail "the missing ffmpeg is not named" ;;
esac

# An ffmpeg that fails part way: the run ends with status 1 and says so, and
# no file is left under either name.
printf '#!/bin/sh\nhead -c 1000000 >/dev/null\necho "ffmpeg: broken on purpose" >&2\nexit 1\n' > bin/ffmpeg
chmod +x bin/ffmpeg
err=$(env PATH="$dir/bin:/usr/bin:/bin" "$capture" --frames 50 --video broken.mp4 2>&1 >/dev/null)
status=$?
[ $status -eq 1 ] && pass || fail "a failing ffmpeg should give status 1, got $status"
case "$err" in *"broken on purpose"*"ffmpeg"*) pass ;; *) fail "ffmpeg's failure is not told: $err" ;; esac
[ ! -e broken.mp4 ] && [ ! -e broken.mp4.part ] && pass || fail "a failed video left a file"

# An ffmpeg that stalls before it reads for twice the time the stuck-program
# guard allows (10 s): the wait is the video's, not the program's, so the
# run is not given up.
printf '#!/bin/sh\nsleep 21\ncat > "$(eval echo \\${$#})"\n' > bin/ffmpeg
err=$(env PATH="$dir/bin:/usr/bin:/bin" "$capture" --frames 30 --video slow.mp4 2>&1 >/dev/null)
status=$?
[ $status -eq 0 ] && [ -s slow.mp4 ] && pass || fail "a slow ffmpeg should not end the run: status $status: $err"

finish_checks
