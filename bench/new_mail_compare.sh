#!/bin/bash
# A mail check that finds nothing new in a large mailbox, from a private Dovecot on
# loopback over plain POP3 and plain IMAP, messages kept on the server:
#   kingyo new-only  kingyo's check counting new mail by unique ID, its store of seen
#                    IDs filled by a first check;
#   mpop new-only    mpop with only_new and keep on, its UIDL file filled by a first run;
#   kingyo full      kingyo's default check, which fetches every message;
#   kingyo new-only, warm: the new-only check run a second time in one process, as a
#                    running kingyo checks every INTERVAL minutes (timed inside it);
#   kingyo IMAP new-only: kingyo's IMAP check counting the unread messages that came
#                    after the UIDNEXT a first check stored (STATUS alone when none);
#   kingyo IMAP new-only, warm: the same, a second time in one process;
#   kingyo IMAP      kingyo's default IMAP check, which counts every unread message
#                    (none here: POP3's fetches marked each one read);
#   curl STATUS      curl logging in and asking the STATUS that kingyo's check asks.
#   bench/new_mail_compare.sh BUILD_DIR [RUNS [COUNT [SIZE]]]
# BUILD_DIR holds bench/new_mail_bench (KINGYO_BENCH=ON); RUNS (5) rounds of each
# client in a rotating order, COUNT (10000) messages of SIZE (2048) bytes.
# Prints the median wall time of each client (start of the process to its exit; for
# kingyo also the check alone, from its start to its end inside the process), and
# the bytes each received from and sent to the server in one more session of its own
# through a counting forwarder (bench/counting_forwarder.py), apart from the timed
# runs so that the forwarder's hop does not slow them. Then kingyo's IMAP sessions
# timed in two at the login's answer (new_mail_bench --split), in the same rounds.
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
status_command='STATUS INBOX (MESSAGES UNSEEN UIDNEXT UIDVALIDITY)'
peers=("kingyo new-only" "mpop new-only" "kingyo full" "kingyo new-only, warm"
    "kingyo IMAP new-only" "kingyo IMAP new-only, warm" "kingyo IMAP" "curl STATUS")
splits=("kingyo IMAP new-only, split" "kingyo IMAP, split")
# mpop delivers the first run's messages into a Maildir on tmpfs.
deliveries=$(mktemp -d /dev/shm/kingyo-mpop.XXXXXX 2>/dev/null || mktemp -d "$work/mpop.XXXXXX")
mkdir -p "$deliveries/"{new,cur,tmp}
forwarder_pids=()

cleanup() {
    local pid
    for pid in "${forwarder_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
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

# The port of each protocol, straight ("direct") or through its counting forwarder
# ("counted", once started).
declare -A ports=(["direct POP3"]=$POP3_PORT ["direct IMAP"]=$IMAP_PORT)

# The port a client speaks to by the route (direct or counted).
client_port() { # client route
    local protocol=POP3
    [[ $1 != *IMAP* && $1 != curl* ]] || protocol=IMAP
    echo "${ports[$2 $protocol]}"
}

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

# The command line of a client by a route into the array "cmdline".
client_command() { # client route
    local port
    port=$(client_port "$1" "$2")
    case $1 in
    *", warm") client_command "${1%, warm}" "$2"; cmdline+=(--warm) ;;
    *", split") client_command "${1%, split}" "$2"; cmdline+=(--split) ;;
    "kingyo new-only") kingyo_command "127.0.0.1:$port" --new-only "$work/seen" ;;
    "kingyo full") kingyo_command "127.0.0.1:$port" ;;
    "kingyo IMAP new-only") kingyo_command "imap://127.0.0.1:$port" --new-only "$work/marks" ;;
    "kingyo IMAP") kingyo_command "imap://127.0.0.1:$port" ;;
    "mpop new-only")
        [ -f "$work/mpoprc.$port" ] || write_mpoprc "$port"
        cmdline=(mpop -C "$work/mpoprc.$port" -q)
        ;;
    "curl STATUS") cmdline=(curl -s "imap://127.0.0.1:$port/" -u "$user:$password" -X "$status_command") ;;
    esac
}

kingyo_command() { # server [options]
    cmdline=("$build/bench/new_mail_bench" "$1" "$user" "$password" "${@:2}")
}

# A number of the STATUS line in curl's output.
status_item() { # name
    sed -nE "s/^\* STATUS INBOX \(.*\b$1 ([0-9]+)\b.*/\1/p" "$work/out"
}

# What the run must have found: nothing new, or every message for the full check,
# the messages unread as the first STATUS said for the default IMAP check, STATUS's
# counts for curl. The server must still hold every message (nothing deleted).
check_run() { # client
    local expected=0 kept
    case $1 in
    "kingyo full") expected=$count ;;
    "kingyo IMAP"*) expected=$unread ;;
    esac
    case $1 in
    kingyo*) grep -q "^$expected counted" "$work/out" ;;
    mpop*) [ -z "$(find "$deliveries" -type f)" ] ;; # delivered nothing
    curl*) [ "$(status_item MESSAGES)" = "$count" ] && [ "$(status_item UNSEEN)" = "$unread" ] ;;
    esac || { echo "$1 did not find $expected new or unread messages in $count:" >&2; cat "$work/out" >&2; exit 1; }
    kept=$(find "$maildir/cur" "$maildir/new" -type f | wc -l)
    [ "$kept" = "$count" ] || { echo "$1 left $kept of $count messages on the server" >&2; exit 1; }
}

# Runs a client by a route; through the forwarder it waits for the session's line in
# the forwarder's log.
run() { # client route
    client_command "$1" "$2"
    "${cmdline[@]}" >"$work/out" 2>&1 || { echo "failed: ${cmdline[*]}" >&2; cat "$work/out" >&2; exit 1; }
    [ "$2" = direct ] || wait_for_logged_session "$1"
}

logged_sessions=0
wait_for_logged_session() { # client
    logged_sessions=$((logged_sessions + 1))
    for _ in $(seq 200); do
        [ "$(wc -l <"$work/forwarder.log")" -ge "$logged_sessions" ] && return 0
        sleep 0.05
    done
    echo "the forwarder logged no session for $1" >&2
    exit 1
}

forget_deliveries() { find "$deliveries" -type f -delete; }

# The first sessions: Dovecot moves every file out of new/, kingyo's store and mpop's
# UIDL file learn every message (mpop delivering each once, which marks it read), and
# kingyo's IMAP new-only check stores its mark.
first_sessions() { # route
    run "kingyo new-only" "$1"
    grep -q "^$count counted" "$work/out" || { echo "the first new-only check did not see every message" >&2; exit 1; }
    run "mpop new-only" "$1"
    forget_deliveries
    run "kingyo IMAP new-only" "$1"
}

mkdir "$work/seen" "$work/marks"
first_sessions direct
run "curl STATUS" direct
unread=$(status_item UNSEEN)
[ -n "$unread" ] || { echo "curl printed no STATUS line:" >&2; cat "$work/out" >&2; exit 1; }

timed=("${peers[@]}" "${splits[@]}")
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq "$runs"); do
    for k in "${!timed[@]}"; do
        client=${timed[$(((k + round) % ${#timed[@]}))]}
        client_command "$client" direct
        timing=$(
            TIMEFORMAT='%R'
            { time "${cmdline[@]}" >"$work/out" 2>&1; } 2>&1
        ) || { echo "failed: ${cmdline[*]}" >&2; cat "$work/out" >&2; exit 1; }
        check_run "$client"
        echo "$timing" >>"$samples/$client.wall"
        [[ $client != kingyo* ]] || sed -E 's/^[0-9]+ counted, ([0-9.]+) s.*/\1/' "$work/out" >>"$samples/$client.check"
        if [[ $client == *split ]]; then
            read -r login after < <(sed -nE 's/.*; login ([0-9.]+) s, after login ([0-9.]+) s$/\1 \2/p' "$work/out")
            echo "$login" >>"$samples/$client.login"
            echo "$after" >>"$samples/$client.after"
        fi
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The byte counts: a session of each client through its protocol's forwarder (one log
# for both), after first sessions there that fill the seen store, UIDL file and mark
# kept for that address.
start_forwarder() { # protocol
    "$here/counting_forwarder.py" "${ports[direct $1]}" "$work/forwarder.$1" "$work/forwarder.log" &
    forwarder_pids+=($!)
    for _ in $(seq 100); do [ -f "$work/forwarder.$1" ] && break; sleep 0.05; done
    ports["counted $1"]=$(cat "$work/forwarder.$1")
}
: >"$work/forwarder.log"
start_forwarder POP3
start_forwarder IMAP
first_sessions counted
for client in "${peers[@]}"; do
    [[ $client != *warm ]] || continue # the warm check's second session is the first one's
    run "$client" counted
    check_run "$client"
    tail -n 1 "$work/forwarder.log" >"$samples/$client.bytes"
done

echo
echo "A check finding nothing new: $count messages of $size bytes kept on a local Dovecot, plain POP3 and IMAP."
echo "Unread on the server before the rounds (STATUS): $unread of $count (a POP3 fetch marks a message read)."
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
        printf '| %s | – | %s | as %s | | |\n' "$client" "$check" "${client%, warm}"
        continue
    fi
    read -r down up <"$samples/$client.bytes"
    printf '| %s | %.3f s | %s | %d | %.3f %% | %d |\n' "$client" "$(median <"$samples/$client.wall")" "$check" "$down" \
        "$(echo "100 * $down / $full_down" | bc -l)" "$up"
done
echo
echo "kingyo's IMAP session split at the login's answer (its channel and count without the check around them):"
echo
echo "| session | connect and log in | the count after the login | whole |"
echo "|---|---|---|---|"
for client in "${splits[@]}"; do
    printf '| %s | %.1f ms | %.1f ms | %.1f ms |\n' "${client%, split}" "$(median <"$samples/$client.login" | awk '{print $1 * 1000}')" \
        "$(median <"$samples/$client.after" | awk '{print $1 * 1000}')" "$(median <"$samples/$client.check" | awk '{print $1 * 1000}')"
done
