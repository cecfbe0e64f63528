#!/bin/bash
# A mail check that finds nothing new in a large mailbox, from a private Dovecot on
# loopback over plain POP3, messages kept on the server:
#   kingyo new-only  kingyo's check counting new mail by unique ID, its store of seen
#                    IDs filled by a first check;
#   mpop new-only    mpop with only_new and keep on, its UIDL file filled by a first run;
#   kingyo full      kingyo's default check, which fetches every message;
#   kingyo new-only, warm: the new-only check run a second time in one process, as a
#                    running kingyo checks every INTERVAL minutes (timed inside it).
#   bench/new_mail_compare.sh BUILD_DIR [RUNS [COUNT [SIZE]]]
# BUILD_DIR holds bench/new_mail_bench (KINGYO_BENCH=ON); RUNS (5) rounds of each
# client in a rotating order, COUNT (10000) messages of SIZE (2048) bytes.
# Prints the median wall time of each client (start of the process to its exit; for
# kingyo also the check alone, from its start to its end inside the process), and
# the bytes each received from and sent to the server in one more session of its own
# through a counting forwarder (bench/counting_forwarder.py), apart from the timed
# runs so that the forwarder's hop does not slow them.
set -euo pipefail

build=$(realpath "${1:?usage: $0 BUILD_DIR [RUNS [COUNT [SIZE]]]}")
runs=${2:-5}
count=${3:-10000}
size=${4:-2048}
here=$(dirname "$(realpath "$0")")
server_script="$here/../scripts/test-pop3-server"
work=$(mktemp -d /tmp/kingyo-new-mail-bench.XXXXXX)
chmod 755 "$work" # Dovecot's own users read the server folder inside
server_dir="$work/server"
samples="$work/samples"
mkdir "$samples"
user=alice
password=alice-pass-1
peers=("kingyo new-only" "mpop new-only" "kingyo full" "kingyo new-only, warm")
# mpop delivers the first run's messages into a Maildir on tmpfs.
deliveries=$(mktemp -d /dev/shm/kingyo-mpop.XXXXXX 2>/dev/null || mktemp -d "$work/mpop.XXXXXX")
mkdir -p "$deliveries/"{new,cur,tmp}
forwarder_pid=""

cleanup() {
    [ -z "$forwarder_pid" ] || kill "$forwarder_pid" 2>/dev/null || true
    "$server_script" stop "$server_dir" || true
    rm -rf "$work" "$deliveries"
}
trap cleanup EXIT

# shellcheck source=bench/pop3_mailbox.sh
. "$here/pop3_mailbox.sh"

"$server_script" start "$server_dir" plain
# shellcheck disable=SC1091
. "$server_dir/env"
maildir="$server_dir/home/$user/Maildir"
fill_mailbox "$maildir" "$count" "$size"

# mpop's configuration for a server port, its UIDL file named after the port.
write_mpoprc() { # port
    cat >"$work/mpoprc.$1" <<EOF
account default
host 127.0.0.1
port $1
tls off
auth user
user $user
password $password
keep on
only_new on
uidls_file $work/mpop_uidls.$1
received_header off
delivery maildir $deliveries
EOF
    chmod 600 "$work/mpoprc.$1"
}

# The command line of a client against a server port into the array "cmdline".
client_command() { # client port
    case $1 in
    "kingyo new-only") cmdline=("$build/bench/new_mail_bench" "127.0.0.1:$2" "$user" "$password" --new-only "$work/seen") ;;
    "kingyo new-only, warm") cmdline=("$build/bench/new_mail_bench" "127.0.0.1:$2" "$user" "$password" --new-only "$work/seen" --warm) ;;
    "kingyo full") cmdline=("$build/bench/new_mail_bench" "127.0.0.1:$2" "$user" "$password") ;;
    "mpop new-only") cmdline=(mpop -C "$work/mpoprc.$2" -q) ;;
    esac
}

# What the run must have found: nothing new, or every message for the full check.
# The server must still hold every message (nothing deleted).
check_run() { # client
    local expected=0 kept
    [ "$1" != "kingyo full" ] || expected=$count
    case $1 in
    kingyo*) grep -q "^$expected counted" "$work/out" ;;
    mpop*) [ -z "$(find "$deliveries" -type f)" ] ;; # delivered nothing
    esac || { echo "$1 did not count $expected messages:" >&2; cat "$work/out" >&2; exit 1; }
    kept=$(find "$maildir/cur" "$maildir/new" -type f | wc -l)
    [ "$kept" = "$count" ] || { echo "$1 left $kept of $count messages on the server" >&2; exit 1; }
}

run() { # client port
    client_command "$1" "$2"
    "${cmdline[@]}" >"$work/out" 2>&1 || { echo "failed: ${cmdline[*]}" >&2; cat "$work/out" >&2; exit 1; }
}

forget_deliveries() { find "$deliveries" -type f -delete; }

mkdir "$work/seen"
write_mpoprc "$POP3_PORT"
# The first sessions: Dovecot moves every file out of new/, kingyo's store and mpop's
# UIDL file learn every message (mpop delivering each once).
run "kingyo new-only" "$POP3_PORT"
grep -q "^$count counted" "$work/out" || { echo "the first new-only check did not see every message" >&2; exit 1; }
run "mpop new-only" "$POP3_PORT"
forget_deliveries

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq "$runs"); do
    for k in "${!peers[@]}"; do
        client=${peers[$(((k + round) % ${#peers[@]}))]}
        client_command "$client" "$POP3_PORT"
        timing=$(
            TIMEFORMAT='%R'
            { time "${cmdline[@]}" >"$work/out" 2>&1; } 2>&1
        ) || { echo "failed: ${cmdline[*]}" >&2; cat "$work/out" >&2; exit 1; }
        check_run "$client"
        echo "$timing" >>"$samples/$client.wall"
        [[ $client != kingyo* ]] || sed -E 's/.*counted, ([0-9.]+) s/\1/' "$work/out" >>"$samples/$client.check"
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The byte counts: a session of each client through the forwarder, after a first
# session there that fills the seen store and UIDL file kept for that address.
"$here/counting_forwarder.py" "$POP3_PORT" "$work/forwarder.port" "$work/forwarder.log" &
forwarder_pid=$!
for _ in $(seq 100); do [ -f "$work/forwarder.port" ] && break; sleep 0.05; done
forward_port=$(cat "$work/forwarder.port")
write_mpoprc "$forward_port"
: >"$work/forwarder.log"
sessions=0
# Runs a client through the forwarder and waits for its session's line in the log.
run_forwarded() { # client
    run "$1" "$forward_port"
    sessions=$((sessions + 1))
    for _ in $(seq 200); do
        [ "$(wc -l <"$work/forwarder.log")" -ge "$sessions" ] && return 0
        sleep 0.05
    done
    echo "the forwarder logged no session for $1" >&2
    exit 1
}
run_forwarded "kingyo new-only"
run_forwarded "mpop new-only"
forget_deliveries
for client in "${peers[@]:0:3}"; do # the warm check's second session is the new-only one
    run_forwarded "$client"
    check_run "$client"
    tail -n 1 "$work/forwarder.log" >"$samples/$client.bytes"
done

echo
echo "A check finding nothing new: $count messages of $size bytes kept on a local Dovecot, plain POP3."
echo "Times: medians of $runs rounds, clients in a rotating order."
echo "Bytes: one more session of each through a counting forwarder."
echo "Load average before: $load_before; after: $load_after ($(nproc) CPUs)."
echo
full_down=$(cut -d' ' -f1 "$samples/kingyo full.bytes")
echo "| client | process wall time | check inside the process | bytes from the server | share of the full check's | bytes to the server |"
echo "|---|---|---|---|---|---|"
for client in "${peers[@]}"; do
    check="–"
    [ ! -f "$samples/$client.check" ] || check=$(printf '%.3f s' "$(median <"$samples/$client.check")")
    if [[ $client == *warm ]]; then
        printf '| %s | – | %s | as new-only | | |\n' "$client" "$check"
        continue
    fi
    read -r down up <"$samples/$client.bytes"
    printf '| %s | %.3f s | %s | %d | %.3f %% | %d |\n' "$client" "$(median <"$samples/$client.wall")" "$check" "$down" \
        "$(echo "100 * $down / $full_down" | bc -l)" "$up"
done
