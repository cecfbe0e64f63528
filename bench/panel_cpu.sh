#!/usr/bin/env bash
# Idle cost of the control panel: two copies of kingyo side by side (bench/idle_cpu.sh),
# one with its panel open (opened by a double-click on its bowl), one without.
# Usage: bench/panel_cpu.sh KINGYO_BINARY [SECONDS]
set -euo pipefail
binary=$(realpath "${1:?usage: $0 KINGYO_BINARY [SECONDS]}")
seconds=${2:-60}
here=$(dirname "$0")
source "$here/kingyo_copy.sh"

work=$(mktemp -d /tmp/kingyo-panel-cpu.XXXXXX)
trap 'rm -rf "$work"' EXIT
kingyo_copy "$work/closed" "$binary"
kingyo_copy "$work/open" "$binary"

# Each bowl shows with its top-left corner at the pointer; the double-click is on the second.
# A runtime folder of its own lets each copy run beside the other: a second kingyo in
# one session only hands over to the first.
"$here/idle_cpu.sh" \
  --then "xdotool mousemove 710 260 sleep 0.2 click --repeat 2 --delay 80 1 sleep 1 search --name 'Brimble屋さん'" \
  "$seconds" \
  "panel closed=xdotool mousemove 200 200 && cd '$work/closed' && XDG_RUNTIME_DIR='$work/closed' exec ./kingyo" \
  "panel open=xdotool mousemove 700 200 && cd '$work/open' && XDG_RUNTIME_DIR='$work/open' exec ./kingyo"
