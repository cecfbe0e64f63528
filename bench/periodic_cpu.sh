#!/usr/bin/env bash
# What checking by itself costs an idle kingyo: two copies of the real program side by
# side in one private X server (Xvfb with openbox), both counting only new mail and
# pointed at a private Dovecot holding a few messages they have already seen, one
# checking every minute (INTERVAL=1), the other never by itself (INTERVAL=0). Prints
# each copy's share of one core (utime + stime of all its threads, from
# /proc/PID/stat), its wake-ups a second (voluntary context switches) and the logins
# Dovecot logged for it during the window, which must hold the minute's checks.
# Usage: bench/periodic_cpu.sh BUILD_DIR [SECONDS]   (SECONDS: 125, at least 65)
# BUILD_DIR holds kingyo and bench/new_mail_bench (a Release build, KINGYO_BENCH=ON).
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS]}")
seconds=${2:-125}
((seconds >= 65)) || { echo "the window must hold a check a minute in: SECONDS >= 65" >&2; exit 2; }
here=$(dirname "$(realpath "$0")")

source "$here/kingyo_copy.sh"
source "$here/../scripts/virtual-display.sh"
scratch=$(mktemp -d /tmp/kingyo-periodic.XXXXXX)
chmod 755 "$scratch" # Dovecot's own users read the server folder inside
server_dir="$scratch/server"
user=bob
password=bob-pass-1
names=(interval_1 interval_0)
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  stop_virtual_display
  "$here/../scripts/test-pop3-server" stop "$server_dir" || true
  rm -rf "$scratch"
}
trap finish EXIT

"$here/../scripts/test-pop3-server" start "$server_dir" plain >/dev/null
source "$server_dir/env"
source "$here/pop3_mailbox.sh"
fill_mailbox "$server_dir/home/$user/Maildir" 3 2048
server="127.0.0.1:$POP3_PORT"
logins() { grep -c "Login: user=<$user>" "$POP3_DIR/dovecot.log" || true; }
logins_before_copies=$(logins)

# A copy with the account and the watch options; its store of seen IDs is filled by a
# check of its own, so the copy's checks find nothing new.
make_copy() { # name interval
  local dir="$scratch/$1"
  kingyo_copy "$dir" "$build/kingyo"
  printf 'SMTP=\r\nPOP3=%s\r\nMAIL=\r\nAPOP=0\r\n' "$server" >"$dir/vbmail.ini"
  printf '[EXEINI]\r\nNAME=%s\r\nNAME2=%s\r\nNAME3=1\r\n' "$user" "$password" >"$dir/★MailData/iniIdPass.ini"
  printf '[EXEINI]\r\nNUMBER=0\r\nNEWONLY=1\r\nINTERVAL=%d\r\n' "$2" >"$dir/★MailData/ini.ini"
  "$build/bench/new_mail_bench" "$server" "$user" "$password" --new-only "$dir/★MailData" >/dev/null
  mkdir -m 0700 "$dir/runtime" "$dir/home"
}
make_copy interval_1 1
make_copy interval_0 0

start_virtual_display
# Each copy has a runtime folder of its own: one kingyo a display would hand a second
# start over to the first.
for name in "${names[@]}"; do
  (cd "$scratch/$name" && HOME="$scratch/$name/home" XDG_RUNTIME_DIR="$scratch/$name/runtime" exec ./kingyo) \
    >"$scratch/$name.log" 2>&1 &
  pids+=($!)
done
sleep 3

# utime + stime in clock ticks (fields 14 and 15; the name in brackets may hold spaces).
cpu_ticks() { local stat; stat=$(cat "/proc/$1/stat"); awk '{ print $12 + $13 }' <<<"${stat##*) }"; }
wake_ups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { s += $2 } END { printf "%d", s }'; }
declare -A ticks woken
for pid in "${pids[@]}"; do
  ticks[$pid]=$(cpu_ticks "$pid")
  woken[$pid]=$(wake_ups "$pid")
done
logins_at_start=$(logins)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
sleep "$seconds"
logins_at_end=$(logins)

hz=$(getconf CLK_TCK)
echo "Over $seconds s, the copies started 3 s before; load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) CPUs)."
echo "Dovecot logins: $((logins_at_start - logins_before_copies)) before the window (the copies' stores fill), $((logins_at_end - logins_at_start)) during it."
printf '%-12s %12s %12s\n' copy '% of a core' 'wake-ups/s'
for i in "${!pids[@]}"; do
  pid=${pids[i]}
  kill -0 "$pid" 2>/dev/null || { printf '%-12s %12s\n' "${names[i]}" 'ended early'; cat "$scratch/${names[i]}.log" >&2; continue; }
  awk -v name="${names[i]}" -v t=$(($(cpu_ticks "$pid") - ticks[$pid])) -v hz="$hz" -v s="$seconds" \
      -v wakes=$(($(wake_ups "$pid") - woken[$pid])) \
      'BEGIN { printf "%-12s %12.3f %12.1f\n", name, 100 * t / hz / s, wakes / s }'
done
