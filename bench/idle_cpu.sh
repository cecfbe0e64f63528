#!/usr/bin/env bash
# Idle cost side by side: runs each program in one private X server (Xvfb with openbox)
# for SECONDS after a short settling time, then prints its share of one core, how often
# a second it woke up (voluntary context switches) and its resident memory. CPU time and
# wake-ups are summed over the program's threads.
# Usage: bench/idle_cpu.sh [--then 'COMMAND'] SECONDS 'name=command args' ...
# Each command runs through bash, one after another a moment apart, so it may set
# things up first ("xdotool mousemove 200 200 && cd DIR && exec ./kingyo"); the
# program measured is the command itself, or the one it ends by exec-ing. --then runs COMMAND on the display
# once all have settled, before the measurement; the run stops if it fails.
# Example: bench/idle_cpu.sh 60 "kingyo=build/kingyo" "bare=build/bench/bare_timers" \
#            "xpenguins=xpenguins" "oneko=/usr/games/oneko"
set -euo pipefail
then_command=
if [[ ${1:-} == --then ]]; then
  then_command=$2
  shift 2
fi
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
trap 'exit 130' INT # a signal alone would end the script without its EXIT trap
trap 'exit 143' TERM

start_virtual_display
for entry in "$@"; do
  names+=("${entry%%=*}")
  bash -c "${entry#*=}" >/dev/null 2>&1 & # bash runs a lone command in its own place
  pids+=($!)
  sleep 1.5
done
sleep 1.5
if [[ -n $then_command ]]; then
  bash -c "$then_command" >/dev/null || { echo "failed: $then_command" >&2; exit 1; }
  sleep 2
fi

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d", s }'; }
wake_ups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { s += $2 } END { printf "%d", s }'; }
declare -A before woken
for pid in "${pids[@]}"; do
  before[$pid]=$(cpu_ns "$pid")
  woken[$pid]=$(wake_ups "$pid")
done
sleep "$seconds"

printf '%-12s %12s %12s %10s\n' program '% of a core' 'wake-ups/s' 'RSS MB'
for i in "${!pids[@]}"; do
  pid=${pids[i]}
  if ! kill -0 "$pid" 2>/dev/null; then
    printf '%-12s %12s\n' "${names[i]}" 'ended early'
    continue
  fi
  awk -v name="${names[i]}" -v ns=$(($(cpu_ns "$pid") - before[$pid])) -v s="$seconds" \
      -v wakes=$(($(wake_ups "$pid") - woken[$pid])) \
      -v rss="$(awk '/^VmRSS/ { print $2 }' /proc/"$pid"/status)" \
      'BEGIN { printf "%-12s %12.3f %12.1f %10.1f\n", name, 100 * ns / 1e9 / s, wakes / s, rss / 1024 }'
done
