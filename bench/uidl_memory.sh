#!/bin/bash
# Peak memory of new-only POP3 checks (new_mail_bench --new-only, one process each,
# its maximum resident size as /usr/bin/time reports it):
#   COUNT messages on a private Dovecot, a first check (every message new, the seen
#   IDs stored) and a second one (nothing new, the stored IDs read back);
#   a hostile server whose UIDL lists IDS one-character IDs (6,000,000: 64.9 MB);
#   and the IMAP check of the COUNT messages, every one unread (no new-only).
#   bench/uidl_memory.sh BUILD_DIR [COUNT [IDS]]
set -euo pipefail

build=$(realpath "${1:?usage: $0 BUILD_DIR [COUNT [IDS]]}")
count=${2:-100000}
ids=${3:-6000000}
here=$(dirname "$(realpath "$0")")
server_script="$here/../scripts/test-pop3-server"
work=$(mktemp -d /tmp/kingyo-uidl-memory.XXXXXX)
chmod 755 "$work" # Dovecot's own users read the server folder inside
server_dir="$work/server"
hostile_pid=

cleanup() {
    [ -z "$hostile_pid" ] || kill "$hostile_pid" 2>/dev/null || true
    "$server_script" stop "$server_dir" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=bench/pop3_mailbox.sh
. "$here/pop3_mailbox.sh"

# Prints "LABEL: N kB peak, exit E (what it said)" for one check.
peak() { # label server user password [options]
    local status=0
    /usr/bin/time -f %M -o "$work/peak" "$build/bench/new_mail_bench" "$2" "$3" "$4" "${@:5}" \
        >"$work/out" 2>"$work/err" || status=$?
    echo "$1: $(tail -1 "$work/peak") kB peak, exit $status ($(head -1 "$work/out" "$work/err" | grep -v '^==>' | grep . | head -1))"
}

mkdir "$work/seen" "$work/hostile"
"$server_script" start "$server_dir" plain >"$work/server.log" 2>&1
eval "$(grep -E '^(POP3|IMAP)_PORT=' "$server_dir/env")"
fill_mailbox "$server_dir/home/alice/Maildir" "$count" 512
peak "$count messages, first check" "127.0.0.1:$POP3_PORT" alice alice-pass-1 --new-only "$work/seen"
peak "$count messages, second check" "127.0.0.1:$POP3_PORT" alice alice-pass-1 --new-only "$work/seen"
peak "$count unread over IMAP" "imap://127.0.0.1:$IMAP_PORT" alice alice-pass-1

# One connection, any login taken; UIDL streams "n x" for every message.
python3 - "$work/port" "$ids" <<'PY' &
import socket, sys
count = int(sys.argv[2])
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
open(sys.argv[1], "w").write(str(listener.getsockname()[1]))
peer, _ = listener.accept()
peer.sendall(b"+OK hostile\r\n")
lines = peer.makefile("rb")
for line in lines:
    word = line.split(b" ")[0].strip().upper()
    if word == b"CAPA":
        peer.sendall(b"-ERR\r\n")
    elif word == b"STAT":
        peer.sendall(b"+OK %d 0\r\n" % count)
    elif word == b"UIDL":
        peer.sendall(b"+OK\r\n")
        for start in range(1, count + 1, 100000):
            peer.sendall(b"".join(b"%d x\r\n" % n for n in range(start, min(start + 100000, count + 1))))
        peer.sendall(b".\r\n")
    elif word == b"QUIT":
        peer.sendall(b"+OK\r\n")
        break
    else:
        peer.sendall(b"+OK\r\n")
PY
hostile_pid=$!
while [ ! -s "$work/port" ]; do sleep 0.1; done
peak "hostile UIDL of $ids IDs" "127.0.0.1:$(cat "$work/port")" u p --new-only "$work/hostile"
