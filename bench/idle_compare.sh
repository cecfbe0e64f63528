#!/usr/bin/env bash
# Mail pushed by IMAP IDLE, from a private Dovecot on loopback (IMAPS, its certificate
# trusted by each client), a delivery being a message written in tmp/ and renamed into
# the Maildir's new/ (Dovecot tells its IDLE clients about half a second later):
#   1. delivery to the moment each listener heard of it, DELIVERIES deliveries 1 s apart
#      (plus up to 0.25 s of jitter) into an INBOX held in IDLE, the listeners in turn,
#      each on its own user's mailbox:
#        bare client (alice)   bench/idle_client.py: LOGIN, EXAMINE, IDLE, and the time
#                              of each "* N EXISTS";
#        fetchmail (bob)       fetchmail --idle in keep mode, the time its MDA starts;
#        kingyo (carol)        the real program under Xvfb (INTERVAL=1, new-only, NOTIFY=1),
#                              the time its Notify reaches a recording notification
#                              service (bench/notification_recorder.py) on a private
#                              session bus, with the bare client on the same mailbox at
#                              the same time: kingyo's Notify minus the server's EXISTS;
#   2. idle cost over SECONDS with no mail (bench/idle_cpu.sh's measure): kingyo holding
#      its IDLE connection, against the same kingyo checking a POP3 server every minute
#      (no IDLE) and the same kingyo with checks by themselves off (INTERVAL=0);
#   3. after `scripts/test-pop3-server restart`: from the restart command to kingyo's
#      notification of a message delivered the moment the server is back, RESTARTS
#      rounds, a few seconds apart.
# Usage: bench/idle_compare.sh [BUILD_DIR [DELIVERIES [RESTARTS [SECONDS]]]]
#   BUILD_DIR (build) holds kingyo; KINGYO=path runs another kingyo binary instead.
#   DELIVERIES 50, RESTARTS 5, SECONDS 60. Takes about five minutes.
# Times are in milliseconds: median, 95th percentile (nearest rank) and worst. Every
# process started here is stopped by its pid when the script ends, on error too.
set -euo pipefail

here=$(dirname "$(realpath "$0")")
build=$(realpath "${1:-$here/../build}")
kingyo=$(realpath "${KINGYO:-$build/kingyo}")
deliveries=${2:-50}
restarts=${3:-5}
seconds=${4:-60}
[ -x "$kingyo" ] || { echo "no kingyo at $kingyo (give BUILD_DIR or KINGYO=path)" >&2; exit 2; }
command -v fetchmail >/dev/null || { echo "fetchmail is not installed" >&2; exit 2; }

source "$here/kingyo_copy.sh"
source "$here/../scripts/virtual-display.sh"
server_script="$here/../scripts/test-pop3-server"
work=$(mktemp -d /tmp/kingyo-idle-bench.XXXXXX)
chmod 755 "$work" # Dovecot's own users read the server folder inside
server_dir="$work/server"
pids=()

finish() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    stop_virtual_display
    "$server_script" stop "$server_dir" >/dev/null || true
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Stops the processes started last, down to the COUNT first ones.
stop_started_after() { # count
    local pid
    while ((${#pids[@]} > $1)); do
        pid=${pids[-1]}
        unset 'pids[-1]'
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# Runs COMMAND among the processes stopped at the end and waits for it: a signal to
# this script is answered at once, not once the command has ended.
run_tracked() { # command...
    "$@" &
    pids+=($!)
    wait "${pids[-1]}"
    unset 'pids[-1]'
}

# Runs COMMAND every 50 ms until it succeeds; after SECONDS says WHAT did not happen.
wait_until() { # seconds what command...
    local seconds=$1 what=$2
    shift 2
    for _ in $(seq $((seconds * 20))); do
        "$@" && return 0
        sleep 0.05
    done
    echo "$what did not happen within $seconds s" >&2
    return 1
}

load() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) CPUs)"; }

"$server_script" start "$server_dir" >/dev/null
source "$server_dir/env"
maildir() { echo "$POP3_DIR/home/$1/Maildir"; }
password() { echo "$1-pass-1"; }
logins() { grep -c "$1-login: Info: Login: user=<$2>," "$POP3_DIR/dovecot.log" || true; }
fingerprint=$(openssl x509 -in "$POP3_CA" -outform DER | sha256sum | cut -d' ' -f1)

# A private bus for kingyo's notifications (and as its system bus: the machine's own
# services stay out of it), the recorder on it.
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/bus.address" 2>"$work/bus.err" &
pids+=($!)
wait_until 5 "the private bus's start" test -s "$work/bus.address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus.address")
export DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
notifications="$work/notifications.log"
/usr/bin/python3 "$here/notification_recorder.py" "$notifications" >"$work/recorder.out" &
pids+=($!)
wait_until 10 "the notification recorder's start" grep -q ready "$work/recorder.out"
services=${#pids[@]} # the bus and the recorder, which serve every part

# A copy of kingyo in its own folder watching USER's mail at SERVER, the server's
# certificate trusted as one the user accepted.
make_copy() { # name user server interval
    local dir="$work/$1"
    kingyo_copy "$dir" "$kingyo"
    printf 'SMTP=\r\nPOP3=%s\r\nMAIL=\r\nAPOP=0\r\n' "$3" >"$dir/vbmail.ini"
    printf '[EXEINI]\r\nNAME=%s\r\nNAME2=%s\r\nNAME3=1\r\n' "$2" "$(password "$2")" >"$dir/★MailData/iniIdPass.ini"
    printf '[EXEINI]\r\nNUMBER=0\r\nNEWONLY=1\r\nINTERVAL=%d\r\nNOTIFY=1\r\n' "$4" >"$dir/★MailData/ini.ini"
    printf 'kingyo-server-trust 1\n127.0.0.1:%d\t%s\t-\n127.0.0.1:%d\t%s\t-\n' \
        "$IMAPS_PORT" "$fingerprint" "$POP3S_PORT" "$fingerprint" >"$dir/★MailData/servers.txt"
    chmod 600 "$dir/★MailData/"*
    mkdir -m 0700 "$dir/runtime" "$dir/home"
}

# The shell command that starts a copy; each has a runtime folder of its own (one
# kingyo a display would hand a second start over to the first).
copy_command() { # name
    local dir="$work/$1"
    echo "cd '$dir' && HOME='$dir/home' XDG_RUNTIME_DIR='$dir/runtime' exec ./kingyo"
}

start_bare_client() { # user log
    "$here/idle_client.py" "$IMAPS_PORT" "$1" "$(password "$1")" "$POP3_CA" "$2" 2>"$2.err" &
    pids+=($!)
    wait_until 10 "the bare client's IDLE for $1" grep -qs $'\t+ ' "$2" || { cat "$2.err" >&2; return 1; }
}

# Another IMAP login of USER than the COUNT before, and a moment for its EXAMINE or
# SELECT and IDLE.
more_logins() { [ "$(logins "$1" "$2")" -gt "$3" ]; } # protocol user count

wait_for_idle_login() { # user count
    wait_until 20 "an IMAP login of $1" more_logins imap "$1" "$2" || return 1
    sleep 1.5
}

deliver() { # user first count log
    run_tracked "$here/maildir_delivery.py" "$(maildir "$1")" "$2" "$3" "$4"
}

# idle_delays.py's figures into median, p95, worst, heard and total.
read_delays() { # starts events [baseline]
    read -r median p95 worst heard total < <("$here/idle_delays.py" "$@")
}

# A row of the delivery table: what listened, what it heard, then its figures.
delivery_row() { # label event starts events [baseline]
    read_delays "${@:3}"
    printf '| %s | %s | %s | %s | %s | %d of %d |\n' "$1" "$2" "$median" "$p95" "$worst" "$heard" "$total"
}

# A row of the restart table: from what, to what, then the median and the worst.
restart_row() { # from to starts events
    read_delays "$3" "$4"
    printf '| %s | %s | %s | %s | %d of %d |\n' "$1" "$2" "$median" "$worst" "$heard" "$total"
}

load_at_start=$(load)

# 1a. The bare client alone.
start_bare_client alice "$work/alice.events"
deliver alice 1 "$deliveries" "$work/alice.deliveries"
sleep 2
stop_started_after "$services"

# 1b. fetchmail in IDLE, keeping every message on the server, its MDA noting the time
# it starts and the subject it is handed.
mkdir -m 0700 "$work/fetchmail"
cat >"$work/fetchmail/mda" <<'EOF'
#!/bin/bash
at=$EPOCHREALTIME
subject=
while IFS= read -r line; do
    line=${line%$'\r'}
    [ -n "$line" ] || break
    [[ $line != Subject:* ]] || subject=$line
done
cat >/dev/null
printf '%s\t%s\n' "$at" "$subject" >>"$1"
EOF
chmod 700 "$work/fetchmail/mda"
cat >"$work/fetchmail/fetchmailrc" <<EOF
poll 127.0.0.1 service $IMAPS_PORT protocol imap auth password user "bob" password "$(password bob)"
    keep idle ssl sslcertck sslcertfile $POP3_CA sslcommonname localhost
    mda "$work/fetchmail/mda $work/bob.events"
EOF
chmod 600 "$work/fetchmail/fetchmailrc"
bob_logins=$(logins imap bob)
FETCHMAILHOME="$work/fetchmail" fetchmail -f "$work/fetchmail/fetchmailrc" --nosyslog --silent --daemon 60 \
    --nodetach --pidfile "$work/fetchmail/pid" >"$work/fetchmail.out" 2>&1 &
pids+=($!)
wait_for_idle_login bob "$bob_logins" || { cat "$work/fetchmail.out" >&2; exit 1; }
deliver bob 1 "$deliveries" "$work/bob.deliveries"
sleep 2
stop_started_after "$services"
kept=$(find "$(maildir bob)/new" "$(maildir bob)/cur" -type f | wc -l)
[ "$kept" = "$deliveries" ] || { echo "fetchmail left $kept of $deliveries messages on the server" >&2; exit 1; }

# 1c. kingyo, with the bare client on the same mailbox.
start_virtual_display
make_copy carol carol "imaps://127.0.0.1:$IMAPS_PORT" 1
carol_logins=$(logins imap carol)
bash -c "$(copy_command carol)" >"$work/carol.log" 2>&1 &
kingyo_pid=$!
pids+=("$kingyo_pid")
wait_for_idle_login carol "$carol_logins" || { cat "$work/carol.log" >&2; exit 1; }
start_bare_client carol "$work/carol.events"
load_before_kingyo=$(load)
deliver carol 1 "$deliveries" "$work/carol.deliveries"
sleep 3
stop_started_after $((services + 1)) # the bare client; kingyo stays for the restarts

# Notes when Dovecot takes connections on the IMAPS port again after it went away,
# trying every 20 ms for at most a minute, as an event of delivery NUMBER.
note_server_back() { # number log
    local gone=no
    for _ in $(seq 3000); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$IMAPS_PORT") 2>/dev/null; then
            [ $gone = no ] || { printf '%s\tdelivery %d\n' "$EPOCHREALTIME" "$1" >>"$2"; return 0; }
        else
            gone=yes
        fi
        sleep 0.02
    done
}

# 3. Server restarts, kingyo watching; each round notes when the restart began, against
# the number of the delivery that follows it.
load_before_restarts=$(load)
for round in $(seq "$restarts"); do
    sleep "$(awk -v r="$RANDOM" 'BEGIN { print 3 + r / 32767 }')" # kingyo back in IDLE
    number=$((deliveries + round))
    printf '%d\t%s\n' "$number" "$EPOCHREALTIME" >>"$work/restart.starts"
    note_server_back "$number" "$work/restart.back" &
    pids+=($!)
    run_tracked "$server_script" restart "$server_dir" >/dev/null
    deliver carol "$number" 1 "$work/restart.deliveries"
    wait "${pids[-1]}"
    unset 'pids[-1]'
    wait_until 60 "kingyo's notification of delivery $number" grep -qw "delivery $number" "$notifications" || true
done
kill -0 "$kingyo_pid" 2>/dev/null || { echo "kingyo ended early:" >&2; cat "$work/carol.log" >&2; exit 1; }
stop_started_after "$services"
stop_virtual_display

# 2. Idle cost: three copies side by side, no mail.
make_copy imap_idle dave "imaps://127.0.0.1:$IMAPS_PORT" 1
make_copy pop3_every1 erin "pop3s://127.0.0.1:$POP3S_PORT" 1
make_copy interval_0 frank "imaps://127.0.0.1:$IMAPS_PORT" 0
dave_logins=$(logins imap dave)
erin_logins=$(logins pop3 erin)
frank_logins=$(logins imap frank)
load_before_idle=$(load)
# Measured once the IDLE connection is there (idle_cpu.sh settles 6 s first).
run_tracked "$here/idle_cpu.sh" --then "[ \$(grep -c 'imap-login: Info: Login: user=<dave>,' '$POP3_DIR/dovecot.log') -gt $dave_logins ]" \
    "$seconds" "imap_idle=$(copy_command imap_idle)" "pop3_every1=$(copy_command pop3_every1)" \
    "interval_0=$(copy_command interval_0)" >"$work/idle_cpu.out"

echo
echo "kingyo: $kingyo"
echo "Dovecot on loopback, IMAPS with its certificate trusted; at the start: $load_at_start."
echo
echo "1. From the rename into new/ to the listener hearing of it, ms; $deliveries deliveries 1.00–1.25 s apart"
echo "   into an idle INBOX; the listeners in turn, each on its own user's mailbox; kingyo with INTERVAL=1,"
echo "   new-only, NOTIFY=1, the bare client on its mailbox at the same time ($load_before_kingyo before kingyo's turn)."
echo
echo "| listener (user) | heard at | median | 95th percentile | worst | heard |"
echo "|---|---|---|---|---|---|"
delivery_row "bare client (alice)" "* N EXISTS" "$work/alice.deliveries" "$work/alice.events"
delivery_row "fetchmail --idle, keep (bob)" "its MDA starts" "$work/bob.deliveries" "$work/bob.events"
delivery_row "kingyo (carol)" "Notify on the bus" "$work/carol.deliveries" "$notifications"
delivery_row "bare client beside kingyo (carol)" "* N EXISTS" "$work/carol.deliveries" "$work/carol.events"
delivery_row "**kingyo after the server's EXISTS**" "Notify − EXISTS" "$work/carol.deliveries" "$notifications" "$work/carol.events"
echo
echo "2. Idle, no mail, over $seconds s ($load_before_idle before; bench/idle_cpu.sh's measure);"
echo "   Dovecot logins during the run, start included: imap_idle $(($(logins imap dave) - dave_logins)),"
echo "   pop3_every1 $(($(logins pop3 erin) - erin_logins)), interval_0 $(($(logins imap frank) - frank_logins))."
echo "   imap_idle: IMAPS, INTERVAL=1, IDLE held; pop3_every1: POP3S, INTERVAL=1, no IDLE; interval_0: IMAPS, checks by themselves off."
echo
sed 's/^/    /' "$work/idle_cpu.out"
echo
echo "3. After scripts/test-pop3-server restart (down 1 s), a message delivered as soon as the command ends; $restarts rounds, ms"
echo "   ($load_before_restarts before)."
echo
echo "| from | to | median | worst | heard |"
echo "|---|---|---|---|---|"
awk -F'\t' '{ printf "%s\tdelivery %s\n", $2, $1 }' "$work/restart.deliveries" >"$work/restart.delivered"
restart_row "the restart command" "Dovecot takes connections again" "$work/restart.starts" "$work/restart.back"
restart_row "the restart command" "its end, the delivery" "$work/restart.starts" "$work/restart.delivered"
restart_row "the restart command" "kingyo's Notify" "$work/restart.starts" "$notifications"
restart_row "the delivery" "kingyo's Notify" "$work/restart.deliveries" "$notifications"
echo
echo "At the end: $(load)."
