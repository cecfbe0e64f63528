#!/usr/bin/env bash
# Idle cost side by side: runs each program in one private X server (Xvfb with openbox)
# for SECONDS after a short settling time, then prints its share of one core and its
# resident memory. CPU time is summed over the program's threads.
# Usage: bench/idle_cpu.sh SECONDS 'name=command args' ...
# Example: bench/idle_cpu.sh 60 "kingyo=build/kingyo" "bare=build/bench/bare_timers" \
#            "xpenguins=xpenguins" "oneko=/usr/games/oneko"
set -euo pipefail
seconds=$1
shift
source "$(dirname "$0")/../scripts/virtual-display.sh"
export LANG=${LANG:-C.UTF-8}

names=()
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_virtual_display
}
trap finish EXIT

start_virtual_display
for spec in "$@"; do
  names+=("${spec%%=*}")
  ${spec#*=} >/dev/null 2>&1 &
  pids+=($!)
done
sleep 3

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }
declare -A before
for pid in "${pids[@]}"; do before[$pid]=$(cpu_ns "$pid"); done
sleep "$seconds"

printf '%-12s %12s %10s\n' program '% of a core' 'RSS MB'
for i in "${!pids[@]}"; do
  pid=${pids[i]}
  if ! kill -0 "$pid" 2>/dev/null; then
    printf '%-12s %12s\n' "${names[i]}" 'ended early'
    continue
  fi
  awk -v name="${names[i]}" -v ns=$(($(cpu_ns "$pid") - before[$pid])) -v s="$seconds" \
      -v rss="$(awk '/^VmRSS/ { print $2 }' /proc/"$pid"/status)" \
      'BEGIN { printf "%-12s %12.3f %10.1f\n", name, 100 * ns / 1e9 / s, rss / 1024 }'
done
