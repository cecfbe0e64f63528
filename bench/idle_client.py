#!/usr/bin/env python3
"""The least an IMAP client can do to hear of new mail: log in over TLS, EXAMINE
INBOX, IDLE, and note when the server says "* N EXISTS".

    idle_client.py PORT USER PASSWORD CA_FILE LOG_FILE

Connects to 127.0.0.1:PORT (IMAPS), trusting CA_FILE. Appends "<epoch seconds>\\t<line>"
to LOG_FILE for the server's "+" answer to IDLE and for every untagged line after it,
the time taken as the line arrives. Runs until it is sent SIGTERM or the server hangs up
(exit 1).
"""
import socket
import ssl
import sys
import time


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def command(stream, tag, text):
    stream.write(("%s %s\r\n" % (tag, text)).encode())
    stream.flush()
    while True:
        line = stream.readline()
        if not line:
            sys.exit("the server hung up during %s" % text.split()[0])
        if line.startswith(tag.encode() + b" "):
            if not line.startswith(tag.encode() + b" OK"):
                sys.exit("%s failed: %s" % (text.split()[0], line.decode(errors="replace").strip()))
            return


def main():
    port, user, password, ca_file, log_file = sys.argv[1:6]
    context = ssl.create_default_context(cafile=ca_file)
    raw = socket.create_connection(("127.0.0.1", int(port)))
    raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    stream = context.wrap_socket(raw, server_hostname="localhost").makefile("rwb")
    stream.readline()  # the greeting
    command(stream, "a1", "LOGIN %s %s" % (quoted(user), quoted(password)))
    command(stream, "a2", "EXAMINE INBOX")
    stream.write(b"a3 IDLE\r\n")
    stream.flush()
    with open(log_file, "a", buffering=1) as log:
        while True:
            line = stream.readline()
            now = time.time()
            if not line:
                sys.exit("the server hung up")
            log.write("%.6f\t%s\n" % (now, line.decode(errors="replace").rstrip("\r\n")))


if __name__ == "__main__":
    main()
