#!/usr/bin/env bash
# test-pop3-server stop removes only what its start made (a folder holding its
# marker, through DIR's own link), stops the Dovecot by the pid that folder
# records, and leaves every other folder, link target and process alone.
#   test_pop3_server_stop_test.sh SCRIPT
set -uo pipefail
script=${1:?usage: $0 path/to/test-pop3-server}
marker=.made-by-kingyo-test-pop3-server

work=$(mktemp -d "${TMPDIR:-/tmp}/kingyo-pop3-stop-test.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() { # NAME CONDITION...
    local name=$1
    shift
    if "$@"; then echo "ok - $name"; else echo "not ok - $name"; failures=$((failures + 1)); fi
}
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ]; }

# A process named like Dovecot's master, as the pid file of a started server names it.
start_fake_process() { # NAME -> pid in $fake_pid
    local bin
    bin=$(mktemp -d "$work/bin.XXXXXX")
    cp /bin/sleep "$bin/$1"
    "$bin/$1" 60 >/dev/null &
    fake_pid=$!
    pids+=("$fake_pid")
}

# A folder with a file of its own, which stop must never remove.
foreign_folder() {
    mkdir -p "$1"
    echo keep >"$1/precious"
}

# A server folder as start leaves it: marker, pid file, DIR linking to it.
server_folder() { # FILES PID
    mkdir -p "$1/run"
    : >"$1/$marker"
    echo "$2" >"$1/run/master.pid"
}

# A folder without the marker survives stop, and so does a Dovecot its pid file names.
foreign_folder "$work/plain"
start_fake_process dovecot
mkdir -p "$work/plain/run" && echo "$fake_pid" >"$work/plain/run/master.pid"
"$script" stop "$work/plain" 2>/dev/null
check "stop fails on a folder it did not make" [ $? -ne 0 ]
check "that folder keeps its files" [ -f "$work/plain/precious" ]
check "the process its pid file names keeps running" running "$fake_pid"

# A link to a foreign folder: the target is left alone.
foreign_folder "$work/foreign"
ln -s "$work/foreign" "$work/link-to-foreign"
"$script" stop "$work/link-to-foreign" 2>/dev/null
check "stop fails on a link to a folder it did not make" [ $? -ne 0 ]
check "the link's target keeps its files" [ -f "$work/foreign/precious" ]

# A link to a link to a marked folder: stop does not follow the second link.
server_folder "$work/behind-two-links" 0
ln -s "$work/behind-two-links" "$work/inner-link"
ln -s "$work/inner-link" "$work/outer-link"
"$script" stop "$work/outer-link" 2>/dev/null
check "stop fails on a chain of links" [ $? -ne 0 ]
check "the folder behind the chain stays" [ -f "$work/behind-two-links/$marker" ]

# start refuses a DIR that is a foreign folder and puts nothing inside it.
foreign_folder "$work/taken"
"$script" start "$work/taken" >/dev/null 2>&1
started=$?
check "start fails on a folder it did not make" [ "$started" -ne 0 ]
check "start leaves that folder as it was" [ "$(ls -A "$work/taken")" = precious ]
[ "$started" -ne 0 ] || "$script" stop "$work/taken" # a start that went ahead ran a real Dovecot

# Its own server: stopped by the recorded pid, its folder and DIR's link removed.
start_fake_process dovecot
server_folder "$work/files" "$fake_pid"
ln -s "$work/files" "$work/server"
"$script" stop "$work/server"
check "stop succeeds on its own server" [ $? -eq 0 ]
check "the recorded Dovecot is stopped" stopped "$fake_pid"
check "its files are removed" absent "$work/files"
check "DIR's link is removed" absent "$work/server"

# A recorded pid now held by another program (after a reboot) is not killed.
start_fake_process not-dovecot
server_folder "$work/stale" "$fake_pid"
ln -s "$work/stale" "$work/stale-server"
"$script" stop "$work/stale-server"
check "stop succeeds on a server that no longer runs" [ $? -eq 0 ]
check "the program now holding the pid keeps running" running "$fake_pid"
check "the stale server's files are removed" absent "$work/stale"

# A link whose target is gone is just removed.
ln -s "$work/gone" "$work/dangling"
"$script" stop "$work/dangling"
check "stop succeeds on a link to nothing" [ $? -eq 0 ]
check "that link is removed" absent "$work/dangling"

echo "$failures failed"
[ "$failures" -eq 0 ]
