#!/bin/sh
# Processor time of the live window under Xvfb: the default scene (the text
# writer at work) and full load (spray raised until the pool stays full,
# light and overlay on, left button held and moving), each for SECONDS
# (default 30). Prints the share of one core for each.
#   bench/live-cpu.sh [build/release/nebla] [SECONDS]
set -eu
nebla=$(realpath "${1:-build/release/nebla}")
seconds=${2:-30}
display=:97
dir=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$dir"' EXIT

Xvfb $display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=$display
hz=$(getconf CLK_TCK)

# utime + stime of the process, all threads, in clock ticks.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

share() {  # pid seconds
  before=$(ticks "$1")
  sleep "$2"
  after=$(ticks "$1")
  awk -v a="$before" -v b="$after" -v hz="$hz" -v s="$2" 'BEGIN { printf "%.1f", (b - a) / hz / s * 100 }'
}

press() {  # key count
  i=0
  while [ "$i" -lt "$2" ]; do xdotool key --delay 0 "$1"; i=$((i + 1)); done
}

circle() {  # seconds: the mouse circles with the left button held
  end=$(( $(date +%s) + $1 ))
  a=0
  while [ "$(date +%s)" -lt "$end" ]; do
    x=$(awk -v a="$a" 'BEGIN { printf "%d", 640 + 300 * cos(a / 10) }')
    y=$(awk -v a="$a" 'BEGIN { printf "%d", 512 + 250 * sin(a / 7) }')
    xdotool mousemove "$x" "$y"
    a=$((a + 1))
    sleep 0.05
  done
}

cd "$dir"
"$nebla" >/dev/null 2>&1 &
pid=$!
sleep 4  # the set-up pause, and the first page of text begins
echo "default scene: $(share $pid "$seconds") % of one core over $seconds s"

xdotool mousemove 640 512
press shift+c 200
press shift+l 130
xdotool key space d
xdotool mousedown 1
circle 8 &  # until the pool has filled
wait $!
circle "$seconds" &
mover=$!
load=$(share $pid "$seconds")
wait $mover
xdotool mouseup 1
count=$(grep -c "new particlecount" Nebla.log || true)
echo "full load: $load % of one core over $seconds s (particle count stepped $count times)"
xdotool key Escape
wait $pid || true
