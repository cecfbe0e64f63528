#!/bin/bash
# Full retrieval of a mailbox (messages kept on the server) by kingyo's client,
# a raw client that pipelines every RETR at once, and mpop, from a private
# Dovecot on loopback: three mailbox shapes, each over plain POP3, over STLS and
# over POP3S. Every round runs each client once, in a rotating order, so that a
# busy moment of the machine does not land on one client alone.
#   bench/pop3_compare.sh [--all-peers] [--candidate BUILD_DIR2] BUILD_DIR [RUNS]
# BUILD_DIR holds bench/pop3_bench and bench/pop3_raw_client (KINGYO_BENCH=ON);
# RUNS (5) rounds per shape and transport. --all-peers adds fetchmail and curl,
# which take minutes on the large mailboxes. --candidate adds the pop3_bench of
# another build (a changed client) to the same rounds.
# Prints markdown tables of medians: wall time, the CPU time Dovecot spent serving
# the session, and the client's own CPU time; in brackets the ratio to the raw
# client. Dovecot's CPU is read from its master process: the login and pop3
# processes of a session exit at its end (one session per process) and the
# master, which reaps them, accumulates their times in cutime/cstime.
set -euo pipefail

usage="usage: $0 [--all-peers] [--candidate BUILD_DIR2] BUILD_DIR [RUNS]"
all_peers=no
candidate=""
while [ $# -gt 0 ]; do
    case $1 in
    --all-peers) all_peers=yes; shift ;;
    --candidate) candidate=$(realpath "${2:?$usage}"); shift 2 ;;
    *) break ;;
    esac
done
peers=(kingyo)
[ -z "$candidate" ] || peers+=(candidate)
peers+=(raw mpop)
[ $all_peers = no ] || peers+=(fetchmail curl)
build=$(realpath "${1:?$usage}")
runs=${2:-5}
here=$(dirname "$(realpath "$0")")
server_script="$here/../scripts/test-pop3-server"
work=$(mktemp -d /tmp/kingyo-pop3-bench.XXXXXX)
chmod 755 "$work" # Dovecot's own users read the server folder inside
server_dir="$work/server"
samples="$work/samples"
mkdir "$samples"
user=alice
password=alice-pass-1
ticks_per_second=$(getconf CLK_TCK)
# mpop delivers into a fresh Maildir on tmpfs each run: a Maildir on disk would
# time the disk, not the retrieval.
deliveries=$(mktemp -d /dev/shm/kingyo-mpop.XXXXXX 2>/dev/null || mktemp -d "$work/mpop.XXXXXX")

cleanup() {
    "$server_script" stop "$server_dir" || true
    rm -rf "$work" "$deliveries"
}
trap cleanup EXIT

start_server() { # plain | tls
    "$server_script" stop "$server_dir" || true
    if [ "$1" = plain ]; then "$server_script" start "$server_dir" plain; else "$server_script" start "$server_dir"; fi
    # shellcheck disable=SC1091
    . "$server_dir/env"
    master_pid=$(cat "$POP3_DIR/run/master.pid")
}

# shellcheck source=bench/pop3_mailbox.sh
. "$here/pop3_mailbox.sh"

# utime + stime + cutime + cstime of a process, in clock ticks (the fields after
# the parenthesised name, which may itself hold spaces).
process_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
    awk '{print $12 + $13 + $14 + $15}' <<<"${stat##*) }"
}

# Ticks spent by Dovecot so far: the master, its children that have exited (in
# its cutime/cstime) and its long-lived children (log, auth, stats...).
dovecot_ticks() {
    local total child
    total=$(process_ticks "$master_pid")
    for child in $(ps -o pid= --ppid "$master_pid"); do
        total=$((total + $(process_ticks "$child")))
    done
    echo "$total"
}

# The session's processes exit once the client has gone; until the master has
# reaped them their time is not in its totals.
wait_for_sessions_to_end() {
    for _ in $(seq 500); do
        pgrep -P "$master_pid" '^pop3' >/dev/null || return 0
        sleep 0.01
    done
    echo "Dovecot's session processes did not exit" >&2
    exit 1
}

# Peers' configuration for the current server and transport.
write_peer_configs() { # plain | stls | pop3s
    local port=$POP3_PORT tls=off starttls=off fetchmail_tls="sslproto ''"
    case $1 in
    stls) tls=on; starttls=on; fetchmail_tls="sslproto tls1.2+ sslcertck sslcertfile $POP3_CA sslcommonname localhost" ;;
    pop3s) port=$POP3S_PORT; tls=on; fetchmail_tls="ssl sslcertck sslcertfile $POP3_CA sslcommonname localhost" ;;
    esac
    cat >"$work/mpoprc" <<EOF
account default
host 127.0.0.1
port $port
tls $tls
tls_starttls $starttls
tls_trust_file $POP3_CA
auth user
user $user
password $password
keep on
only_new off
uidls_file $work/mpop_uidls
received_header off
delivery maildir $deliveries/current
EOF
    chmod 600 "$work/mpoprc"
    cat >"$work/fetchmailrc" <<EOF
poll 127.0.0.1 service $port protocol pop3 auth password user "$user" password "$password" keep fetchall $fetchmail_tls
EOF
    chmod 600 "$work/fetchmailrc"
}

# The command line of CLIENT over TRANSPORT into the array "cmdline".
client_command() { # client transport count
    local client=$1 transport=$2 count=$3 kingyo=$build/bench/pop3_bench
    [ "$client" != candidate ] || kingyo=$candidate/bench/pop3_bench
    case $client:$transport in
    kingyo:plain | kingyo:stls | candidate:plain | candidate:stls) cmdline=("$kingyo" "127.0.0.1:$POP3_PORT" "$user" "$password" "$POP3_CA") ;;
    kingyo:pop3s | candidate:pop3s) cmdline=("$kingyo" "pop3s://127.0.0.1:$POP3S_PORT" "$user" "$password" "$POP3_CA") ;;
    raw:plain) cmdline=("$build/bench/pop3_raw_client" 127.0.0.1 "$POP3_PORT" "$user" "$password") ;;
    raw:stls) cmdline=("$build/bench/pop3_raw_client" 127.0.0.1 "$POP3_PORT" "$user" "$password" stls "$POP3_CA") ;;
    raw:pop3s) cmdline=("$build/bench/pop3_raw_client" 127.0.0.1 "$POP3S_PORT" "$user" "$password" pop3s "$POP3_CA") ;;
    mpop:*) cmdline=(mpop -C "$work/mpoprc" -q) ;;
    fetchmail:*) cmdline=(env FETCHMAILHOME="$work" fetchmail -f "$work/fetchmailrc" --nosyslog --silent --bsmtp /dev/null) ;;
    curl:plain) cmdline=(curl -s -S -u "$user:$password" -o /dev/null "pop3://127.0.0.1:$POP3_PORT/[1-$count]") ;;
    curl:stls) cmdline=(curl -s -S --ssl-reqd --cacert "$POP3_CA" -u "$user:$password" -o /dev/null "pop3://127.0.0.1:$POP3_PORT/[1-$count]") ;;
    curl:pop3s) cmdline=(curl -s -S --cacert "$POP3_CA" -u "$user:$password" -o /dev/null "pop3s://127.0.0.1:$POP3S_PORT/[1-$count]") ;;
    esac
}

# Did the run fetch every message? Its output is in $work/out.
check_run() { # client count
    case $1 in
    kingyo | candidate | raw) grep -q "^$2 messages" "$work/out" ;;
    mpop) [ "$(find "$deliveries/current/new" -type f | wc -l)" = "$2" ] ;;
    *) true ;;
    esac || { echo "$1 did not fetch $2 messages:" >&2; cat "$work/out" >&2; exit 1; }
}

# One timed run; appends wall seconds, Dovecot's CPU seconds and the client's CPU
# seconds to the samples of KEY.
run_once() { # key client transport count
    local key=$1 client=$2 transport=$3 count=$4 before after timing
    client_command "$client" "$transport" "$count"
    if [ "$client" = mpop ]; then
        rm -rf "$deliveries/current"
        mkdir -p "$deliveries/current/"{new,cur,tmp}
    fi
    wait_for_sessions_to_end
    before=$(dovecot_ticks)
    timing=$(
        TIMEFORMAT='%R %U %S'
        { time "${cmdline[@]}" >"$work/out" 2>&1; } 2>&1
    ) || { echo "failed: ${cmdline[*]}" >&2; cat "$work/out" >&2; exit 1; }
    wait_for_sessions_to_end
    after=$(dovecot_ticks)
    check_run "$client" "$count"
    read -r wall user_cpu system_cpu <<<"$timing"
    echo "$wall" >>"$samples/$key.wall"
    awk -v ticks=$((after - before)) -v hz="$ticks_per_second" 'BEGIN {printf "%.3f\n", ticks / hz}' >>"$samples/$key.server"
    echo "$user_cpu + $system_cpu" | bc -l >>"$samples/$key.client"
    if [ "$client" = kingyo ] && [ "$count" = 200 ] && [ "$transport" = plain ]; then
        sed -E 's/.*growth ([0-9]+) kB/\1/' "$work/out" >"$work/kingyo_rss"
    fi
}

# The rounds for one or more transports served by the running server.
bench_transports() { # label count transports...
    local label=$1 count=$2 transport client round k
    shift 2
    for transport in "$@"; do
        write_peer_configs "$transport"
        # The first session after filling renames every file: keep it out of the timing.
        client_command raw "$transport" "$count"
        "${cmdline[@]}" >"$work/out"
        check_run raw "$count"
    done
    for round in $(seq "$runs"); do
        for transport in "$@"; do
            write_peer_configs "$transport"
            for k in "${!peers[@]}"; do
                client=${peers[$(((k + round) % ${#peers[@]}))]}
                run_once "$label|$transport|$client" "$client" "$transport" "$count"
            done
        done
    done
    echo "done: $label over $*" >&2
}

bench_shape() { # label count size
    start_server plain
    fill_mailbox "$server_dir/home/$user/Maildir" "$2" "$3"
    bench_transports "$1" "$2" plain
    start_server tls
    fill_mailbox "$server_dir/home/$user/Maildir" "$2" "$3"
    bench_transports "$1" "$2" stls pop3s
}

shapes=("2,000 × 20 KB|2000|20480" "200 × 1 MB|200|1048576" "10,000 × 2 KB|10000|2048")
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for shape in "${shapes[@]}"; do
    IFS='|' read -r label count size <<<"$shape"
    bench_shape "$label" "$count" "$size"
done

transport_name() {
    case $1 in plain) echo "POP3" ;; stls) echo "STLS" ;; pop3s) echo "POP3S" ;; esac
}

# One markdown table of medians of one measure.
print_table() { # measure title decimals
    local measure=$1 decimals=$3 shape label transport client value raw
    echo
    echo "$2"
    echo
    printf '| Mailbox | Transport |'
    printf ' %s |' "${peers[@]}"
    echo
    printf '|---|---|'
    printf -- '---|%.0s' "${peers[@]}"
    echo
    for shape in "${shapes[@]}"; do
        label=${shape%%|*}
        for transport in plain stls pop3s; do
            raw=$(median <"$samples/$label|$transport|raw.$measure")
            printf '| %s | %s |' "$label" "$(transport_name "$transport")"
            for client in "${peers[@]}"; do
                value=$(median <"$samples/$label|$transport|$client.$measure")
                if [ "$(echo "$raw > 0" | bc -l)" = 1 ]; then
                    printf ' %.*f s (%.2f×) |' "$decimals" "$value" "$(echo "$value / $raw" | bc -l)"
                else
                    printf ' %.*f s |' "$decimals" "$value"
                fi
            done
            echo
        done
    done
}

echo
echo "Medians of $runs interleaved runs, Dovecot on loopback; in brackets: the ratio to the raw client."
echo "Load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) CPUs)."
print_table wall "Wall time, from starting the client to its exit:" 3
print_table server "CPU time of Dovecot serving the session (all its processes):" 2
print_table client "CPU time of the client (user + system):" 2
if [ -f "$work/kingyo_rss" ]; then
    kingyo_rss=$(cat "$work/kingyo_rss")
    echo
    echo "kingyo's peak RSS growth while fetching 200 × 1 MB: $((kingyo_rss / 1024)) MB ($kingyo_rss kB)."
fi
