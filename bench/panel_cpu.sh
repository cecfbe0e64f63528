#!/usr/bin/env bash
# Idle cost of the control panel: two copies of kingyo side by side in one private X
# server (Xvfb with openbox), one with its panel open (opened by a double-click on
# the bowl), one without; prints each one's share of a core over SECONDS.
# Usage: bench/panel_cpu.sh KINGYO_BINARY [SECONDS]
set -euo pipefail
binary=$(realpath "${1:?usage: $0 KINGYO_BINARY [SECONDS]}")
seconds=${2:-60}
source "$(dirname "$0")/../scripts/virtual-display.sh"
export LANG=${LANG:-C.UTF-8}

work=$(mktemp -d /tmp/kingyo-panel-cpu.XXXXXX)
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_virtual_display
  rm -rf "$work"
}
trap finish EXIT

# A copy with complete settings, so that no dialog opens at start-up.
install_copy() {
  local dir=$work/$1
  mkdir -p "$dir/★MailData"
  cp "$binary" "$dir/kingyo"
  printf 'SMTP=\r\nPOP3=127.0.0.1:9\r\nMAIL=\r\nAPOP=0\r\n' >"$dir/vbmail.ini"
  printf '[EXEINI]\r\nNAME=user\r\nNAME2=pass\r\nNAME3=1\r\n' >"$dir/★MailData/iniIdPass.ini"
  printf '[EXEINI]\r\nNUMBER=0\r\n' >"$dir/★MailData/ini.ini"
}

# The bowl shows with its top-left corner at the pointer.
start_copy() { # NAME X Y
  xdotool mousemove "$2" "$3"
  (cd "$work/$1" && exec ./kingyo >/dev/null 2>&1) &
  pids+=($!)
  sleep 1.5
}

start_virtual_display
install_copy closed
install_copy open
start_copy closed 200 200
start_copy open 700 200
xdotool mousemove 710 260 sleep 0.2 click --repeat 2 --delay 80 1
sleep 1
if ! xdotool search --name 'Brimble屋さん' >/dev/null; then
  echo "the panel did not open" >&2
  exit 1
fi
sleep 2

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }
closed_before=$(cpu_ns "${pids[0]}")
open_before=$(cpu_ns "${pids[1]}")
sleep "$seconds"
closed_after=$(cpu_ns "${pids[0]}")
open_after=$(cpu_ns "${pids[1]}")

printf '| kingyo over %s s | %% of a core | RSS MB |\n|---|---|---|\n' "$seconds"
for row in "panel closed:${pids[0]}:$((closed_after - closed_before))" "panel open:${pids[1]}:$((open_after - open_before))"; do
  IFS=: read -r name pid ns <<<"$row"
  awk -v name="$name" -v ns="$ns" -v s="$seconds" -v rss="$(awk '/^VmRSS/ { print $2 }' /proc/"$pid"/status)" \
    'BEGIN { printf "| %s | %.3f | %.1f |\n", name, 100 * ns / 1e9 / s, rss / 1024 }'
done
