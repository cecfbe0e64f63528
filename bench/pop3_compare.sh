#!/bin/bash
# Full retrieval of a mailbox (messages kept on the server) by kingyo's client,
# mpop, fetchmail, curl and a raw client that pipelines every RETR at once, from
# a private Dovecot on loopback. Prints a markdown table of median times and
# their ratio to the raw client, and kingyo's peak memory growth.
#   bench/pop3_compare.sh BUILD_DIR [RUNS]
# BUILD_DIR holds bench/pop3_bench and bench/pop3_raw_client (KINGYO_BENCH=ON).
set -euo pipefail

build=$(realpath "${1:?usage: $0 BUILD_DIR [RUNS]}")
runs=${2:-5}
here=$(dirname "$(realpath "$0")")
server_script="$here/../scripts/test-pop3-server"
work=$(mktemp -d /tmp/kingyo-pop3-bench.XXXXXX)
chmod 755 "$work" # Dovecot's own users read the server folder inside
server_dir="$work/server"
user=alice
password=alice-pass-1

cleanup() {
    "$server_script" stop "$server_dir" || true
    rm -rf "$work" "${deliveries:-}"
}
trap cleanup EXIT

start_server() { # plain | tls
    "$server_script" stop "$server_dir" || true
    if [ "$1" = plain ]; then "$server_script" start "$server_dir" plain; else "$server_script" start "$server_dir"; fi
    # shellcheck disable=SC1091
    . "$server_dir/env"
}

# COUNT messages of SIZE bytes (CRLF text lines, some starting with a dot).
fill_mailbox() {
    python3 - "$server_dir/home/$user/Maildir" "$1" "$2" <<'PY'
import os, random, sys
maildir, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
owner = os.stat(maildir)
for sub in ("new", "cur"):
    for name in os.listdir(os.path.join(maildir, sub)):
        os.remove(os.path.join(maildir, sub, name))
rng = random.Random(7)
words = b"kingyo fish bowl water bubble food mail server pop3 swim. the a of and".split()
for n in range(count):
    body = bytearray(b"From: bench@example.jp\r\nSubject: message %d\r\n\r\n" % n)
    while len(body) < size:
        line = b" ".join(rng.choice(words) for _ in range(11))
        if rng.random() < 0.02:
            line = b"." + line
        body += line[:76] + b"\r\n"
    name = "%d.%06d.bench" % (1700000000, n)
    path = os.path.join(maildir, "tmp", name)
    with open(path, "wb") as f:
        f.write(body[:size - 2] + b"\r\n")
    os.chown(path, owner.st_uid, owner.st_gid)
    os.rename(path, os.path.join(maildir, "new", name))
PY
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Seconds of wall time for one run of a command; its output goes to $work/out.
time_once() {
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/out" 2>&1 || { echo "failed: $*" >&2; cat "$work/out" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

time_median() {
    for _ in $(seq "$runs"); do time_once "$@"; done | median
}

# Peers' configuration for the current server and mode.
write_peer_configs() { # plain | tls
    local port=$POP3_PORT tls=off sslproto="sslproto ''" ssl_opts=""
    if [ "$1" = tls ]; then
        port=$POP3S_PORT; tls=on; sslproto=""; ssl_opts="ssl sslcertck sslcertfile $POP3_CA sslcommonname localhost"
    fi
    cat >"$work/mpoprc" <<EOF
account default
host 127.0.0.1
port $port
tls $tls
tls_starttls off
tls_trust_file $POP3_CA
auth user
user $user
password $password
keep on
only_new off
received_header off
delivery maildir $deliveries/current
EOF
    chmod 600 "$work/mpoprc"
    cat >"$work/fetchmailrc" <<EOF
poll 127.0.0.1 service $port protocol pop3 auth password user "$user" password "$password" keep fetchall $sslproto $ssl_opts
EOF
    chmod 600 "$work/fetchmailrc"
}

# mpop delivers into a fresh Maildir on tmpfs each run: its mbox delivery and a
# Maildir on disk would time the disk, not the retrieval.
deliveries=$(mktemp -d /dev/shm/kingyo-mpop.XXXXXX 2>/dev/null || mktemp -d "$work/mpop.XXXXXX")
# Moving the last run's mail aside is instant; it is removed after the shape.
run_mpop() {
    if [ -d "$deliveries/current" ]; then mv "$deliveries/current" "$deliveries/old.$(date +%s%N)"; fi
    mkdir -p "$deliveries/current/"{new,cur,tmp}
    mpop -C "$work/mpoprc" -q
}
run_fetchmail() {
    FETCHMAILHOME="$work" fetchmail -f "$work/fetchmailrc" --nosyslog --silent --bsmtp /dev/null
}

results=()
kingyo_rss=""

bench_shape() { # label count size mode
    local label=$1 count=$2 size=$3 mode=$4
    start_server "$mode"
    write_peer_configs "$mode"
    fill_mailbox "$count" "$size"
    local kingyo_server raw_tls curl_url curl_tls=()
    if [ "$mode" = tls ]; then
        kingyo_server="pop3s://127.0.0.1:$POP3S_PORT"; raw_tls=("127.0.0.1" "$POP3S_PORT" "$user" "$password" "$POP3_CA")
        curl_url="pop3s://127.0.0.1:$POP3S_PORT/[1-$count]"; curl_tls=(--cacert "$POP3_CA")
    else
        kingyo_server="127.0.0.1:$POP3_PORT"; raw_tls=("127.0.0.1" "$POP3_PORT" "$user" "$password")
        curl_url="pop3://127.0.0.1:$POP3_PORT/[1-$count]"
    fi
    # The first session after filling renames every file: keep it out of the timing.
    "$build/bench/pop3_bench" "$kingyo_server" "$user" "$password" "$POP3_CA" >"$work/out"
    grep -q "^$count messages" "$work/out" || { cat "$work/out" >&2; exit 1; }

    local raw kingyo mpop fetchmail curl
    raw=$(time_median "$build/bench/pop3_raw_client" "${raw_tls[@]}")
    kingyo=$(time_median "$build/bench/pop3_bench" "$kingyo_server" "$user" "$password" "$POP3_CA")
    [ "$count" = 200 ] && [ "$mode" = plain ] && kingyo_rss=$(sed -E 's/.*growth ([0-9]+) kB/\1/' "$work/out")
    mpop=$(time_median run_mpop)
    rm -rf "${deliveries:?}"/*
    fetchmail=$(time_median run_fetchmail)
    curl=$(time_median curl -s -S -u "$user:$password" "${curl_tls[@]}" -o /dev/null "$curl_url")
    local row="| $label"
    for t in "$kingyo" "$raw" "$mpop" "$fetchmail" "$curl"; do
        row+=$(printf ' | %.3f s (%.2f×)' "$t" "$(echo "$t / $raw" | bc -l)")
    done
    results+=("$row |")
    echo "done: $label" >&2
}

bench_shape "2,000 × 20 KB" 2000 20480 plain
bench_shape "200 × 1 MB" 200 1048576 plain
bench_shape "10,000 × 2 KB" 10000 2048 plain
bench_shape "2,000 × 20 KB, TLS" 2000 20480 tls

echo
echo "Median of $runs runs, Dovecot on loopback; in brackets: time / raw client's time."
echo
echo "| Mailbox | kingyo | raw pipelining client | mpop | fetchmail | curl |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${results[@]}"
echo
echo "kingyo's peak RSS growth while fetching 200 × 1 MB: $((kingyo_rss / 1024)) MB ($kingyo_rss kB)."
