#!/usr/bin/env python3
"""A scripted POP3 server on loopback for the faults a real server will not make.

    fake_pop3_server.py SCENARIO RECORD_FILE [CERT KEY]

Prints "PORT <n>" once listening, serves one client, writes every byte the
client sent to RECORD_FILE ("<TLS>" marks where encryption began) and exits
when the client goes away or after 60 s.
"""
import socket
import ssl
import sys
import time

LIFETIME = 60


class Session:
    def __init__(self, conn, record, cert, key):
        self.conn = conn
        self.record = record
        self.cert = cert
        self.key = key
        self.pending = b""

    def send(self, data):
        self.conn.sendall(data)

    def line(self):
        """The next command line, or None when the client has gone."""
        while b"\n" not in self.pending:
            try:
                chunk = self.conn.recv(65536)
            except (ConnectionError, ssl.SSLError, OSError):
                return None
            if not chunk:
                return None
            self.record.write(chunk)
            self.record.flush()
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.rstrip(b"\r")

    def stall(self):
        """Reads and answers nothing until the client gives up."""
        while self.line() is not None:
            pass

    def start_tls(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, self.key)
        self.conn = context.wrap_socket(self.conn, server_side=True)
        self.record.write(b"<TLS>")  # what follows went encrypted

    def serve(self, greeting=b"+OK fake server ready\r\n", capa=b"+OK\r\nUSER\r\n.\r\n", stat=b"+OK 1 1000\r\n",
              listing=b"+OK\r\n1 1000\r\n.\r\n", retr=None, after_stls=None, uidl=None, top=None, quit=None):
        """A simple server; retr(number) answers RETR, top(number) TOP, after_stls() handles STLS,
        quit() takes over at QUIT."""
        self.send(greeting)
        while True:
            line = self.line()
            if line is None:
                return
            command = line.split(b" ")[0].upper()
            if command == b"CAPA":
                self.send(capa)
            elif command == b"STLS" and after_stls:
                after_stls()
            elif command in (b"USER", b"PASS", b"APOP"):
                self.send(b"+OK\r\n")
            elif command == b"STAT":
                self.send(stat)
            elif command == b"LIST":
                self.send(listing)
            elif command == b"UIDL" and uidl:
                uidl()
            elif command == b"RETR" and retr:
                if retr(int(line.split(b" ")[1])) == "stop":
                    return
            elif command == b"TOP" and top:
                if top(int(line.split(b" ")[1])) == "stop":
                    return
            elif command == b"QUIT":
                if quit:
                    return quit()
                self.send(b"+OK bye\r\n")
                return
            else:
                self.send(b"-ERR unknown command\r\n")


def body_of(size):
    return (b"x" * 78 + b"\r\n") * (size // 80)


def stall_after_greeting(s):
    s.send(b"+OK ready\r\n")
    s.stall()


def stall_mid_message(s):
    def retr(_):
        s.send(b"+OK\r\n" + body_of(400))
        s.stall()
        return "stop"
    s.serve(retr=retr)


def silent_after_quit(s):
    # One message served, then no answer to QUIT: the goodbye waits on the server.
    def retr(_):
        s.send(b"+OK\r\n" + body_of(1000) + b".\r\n")
    s.serve(retr=retr, quit=s.stall)


def cut_mid_message(s):
    def retr(_):
        s.send(b"+OK\r\n" + body_of(400))
        return "stop"
    s.serve(retr=retr)


def endless_message(s):
    # LIST claims 1000 bytes; the message never ends.
    def retr(_):
        try:
            s.send(b"+OK\r\n")
            while True:
                s.send(body_of(64 * 1024))
        except OSError:
            return "stop"
    s.serve(retr=retr)


def huge_line(s):
    # A 1 MB greeting and a 1 MB line in a body: both read through, neither held.
    def retr(_):
        s.send(b"+OK\r\n" + b"y" * (1 << 20) + b"\r\n.\r\n")
    s.serve(greeting=b"+OK " + b"g" * (1 << 20) + b"\r\n", stat=b"+OK 1 1048578\r\n",
            listing=b"+OK\r\n1 1048578\r\n.\r\n", retr=retr)


def huge_headers(s):
    # A header block of 1 MB in answer to TOP; the message itself as usual.
    def top(_):
        s.send(b"+OK\r\nSubject: big\r\nX-Padding: " + b"p" * (1 << 20) + b"\r\n\r\n.\r\n")
    def retr(_):
        s.send(b"+OK\r\nSubject: big\r\n\r\nhi\r\n.\r\n")
    s.serve(top=top, retr=retr)


def cut_mid_headers(s):
    def top(_):
        s.send(b"+OK\r\nSubject: cut\r\nX-Padding: " + b"p" * 400)
        return "stop"
    s.serve(top=top)


def garbage_sizes(s):
    def retr(_):
        s.send(b"+OK\r\nSubject: hi\r\n\r\nhello\r\n.\r\n")
    s.serve(stat=b"+OK 4 100\r\n",
            listing=b"+OK\r\n1 25\r\n2 -5\r\n3 zzz\r\n4 99999999999999999999999\r\n.\r\n", retr=retr)


def negative_count(s):
    s.serve(stat=b"+OK -4 100\r\n")


def garbage_count(s):
    s.serve(stat=b"+OK lots\r\n")


def count_beyond_list(s):
    s.serve(stat=b"+OK 2000000000 0\r\n")


def list_beyond_count(s):
    s.serve(stat=b"+OK 1 10\r\n", listing=b"+OK\r\n1 5\r\n2 5\r\n3 5\r\n.\r\n")


def stls_refused(s):
    s.serve(capa=b"+OK\r\nSTLS\r\nUSER\r\n.\r\n", after_stls=lambda: s.send(b"-ERR not today\r\n"))


def stls_then_garbage(s):
    # "+OK" to STLS, then no TLS at all: the handshake must fail.
    def after():
        s.send(b"+OK begin TLS\r\n")
        time.sleep(0.2)
        s.send(b"-ERR this is no TLS record\r\n" * 20)
    s.serve(capa=b"+OK\r\nSTLS\r\nUSER\r\n.\r\n", after_stls=after)


def stls_injected(s):
    # Replies slipped in before the handshake must not be taken as answers later.
    def after():
        s.send(b"+OK begin TLS\r\n-ERR injected\r\n-ERR injected\r\n+OK 7 700\r\n")
        s.start_tls()
    s.serve(capa=b"+OK\r\nSTLS\r\nUSER\r\n.\r\n", stat=b"+OK 0 0\r\n", listing=b"+OK\r\n.\r\n", after_stls=after)


def stls_withdrawn(s):
    # A server (or someone in between) that no longer lists STLS and takes any password.
    s.serve(capa=b"+OK\r\nUSER\r\nPIPELINING\r\n.\r\n", stat=b"+OK 0 0\r\n", listing=b"+OK\r\n.\r\n")


def no_ok_greeting(s):
    s.send(b"* OK IMAP4rev1 server ready\r\n")
    s.stall()


def err_greeting(s):
    s.send(b"-ERR too many connections\r\n")
    s.stall()


def bare_server(s):
    # A bare "+OK" greeting, no CAPA, bare LF line ends, stuffed dots, no pipelining.
    bodies = {1: b"+OK\nSubject: one\n\n..dot\n.\n", 2: b"+OK\n.\n"}
    def retr(number):
        s.send(bodies[number])
    s.serve(greeting=b"+OK\n", capa=b"-ERR what?\n", stat=b"+OK 2 20\n", listing=b"+OK\n1 22\n2 0\n.\n", retr=retr)


def apop_plain_greeting(s):
    s.serve(greeting=b"+OK ready, no timestamp here\r\n")


def apop_rfc_example(s):
    s.serve(greeting=b"+OK POP3 server ready <1896.697170952@dbc.mindspring.com>\r\n", stat=b"+OK 0 0\r\n",
            listing=b"+OK\r\n.\r\n")


def until_password(s):
    """Greets, knows no CAPA, takes any user; returns the PASS line that follows."""
    s.send(b"+OK ready\r\n")
    s.line()
    s.send(b"-ERR\r\n")  # CAPA
    s.line()
    s.send(b"+OK\r\n")   # USER
    return s.line()


def hostile_error_text(s):
    until_password(s)
    s.send(b"-ERR bad\x1b[31m\x07 password: open-sesame-9 " + b"z" * 2000 + b"\r\n")
    s.stall()


def echoes_password(s):
    password = until_password(s)[len(b"PASS "):]
    s.send(b"-ERR wrong password: " + password + b"\r\n")
    s.stall()


def pipelined(s):
    def retr(number):
        s.send(b"+OK\r\n" + str(number).encode() * 10 + b"\r\n.\r\n")
    s.serve(capa=b"+OK\r\nUSER\r\nPIPELINING\r\n.\r\n", stat=b"+OK 10 120\r\n",
            listing=b"+OK\r\n" + b"".join(b"%d 12\r\n" % n for n in range(1, 11)) + b".\r\n", retr=retr)


def dripping_message(s):
    # A message that arrives one byte at a time, never fast enough to end.
    def retr(_):
        s.send(b"+OK\r\n")
        while True:
            s.send(b"x")
            time.sleep(0.05)
    s.serve(retr=retr)


def huge_mailbox(s):
    # 100,000 messages, each answered in its own good time.
    count = 100000
    def retr(number):
        time.sleep(0.02)
        s.send(b"+OK\r\nSubject: %d\r\n\r\nhi\r\n.\r\n" % number)
    s.serve(stat=b"+OK %d %d\r\n" % (count, count * 20),
            listing=b"+OK\r\n" + b"".join(b"%d 20\r\n" % n for n in range(1, count + 1)) + b".\r\n", retr=retr)


def three_without_uidl(s):
    # Three messages and no UIDL ("-ERR unknown command"); RETR would be answered.
    def retr(number):
        s.send(b"+OK\r\nSubject: %d\r\n\r\nhi\r\n.\r\n" % number)
    s.serve(stat=b"+OK 3 60\r\n", listing=b"+OK\r\n1 20\r\n2 20\r\n3 20\r\n.\r\n", retr=retr)


def uidl_lines(lines):
    def scenario(s):
        def uidl():
            s.send(b"+OK\r\n" + b"".join(line + b"\r\n" for line in lines) + b".\r\n")
        s.serve(stat=b"+OK 2 40\r\n", listing=b"+OK\r\n1 20\r\n2 20\r\n.\r\n", uidl=uidl)
    return scenario


UIDL_SCENARIOS = {
    "uidl_good": [b"1 aaa", b"2 bbb"],
    "uidl_out_of_order": [b"2 bbb", b"1 aaa"],
    "uidl_too_few": [b"1 aaa"],
    "uidl_too_many": [b"1 aaa", b"2 bbb", b"3 ccc"],
    "uidl_no_id": [b"1 aaa", b"2"],
    "uidl_id_too_long": [b"1 aaa", b"2 " + b"x" * 71],
    "uidl_id_with_control": [b"1 aaa", b"2 b\x01b"],
    "uidl_not_a_number": [b"1 aaa", b"two bbb"],
}


SCENARIOS = {f.__name__: f for f in [
    stall_after_greeting, stall_mid_message, cut_mid_message, endless_message, huge_line, garbage_sizes, negative_count,
    garbage_count, count_beyond_list, list_beyond_count, stls_refused, stls_then_garbage, stls_injected, stls_withdrawn,
    no_ok_greeting, err_greeting, bare_server, apop_plain_greeting, apop_rfc_example, hostile_error_text,
    echoes_password, pipelined, dripping_message, huge_mailbox, three_without_uidl, huge_headers, cut_mid_headers,
    silent_after_quit]}
SCENARIOS.update({name: uidl_lines(lines) for name, lines in UIDL_SCENARIOS.items()})


def main():
    scenario = SCENARIOS[sys.argv[1]]
    cert, key = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else (None, None)
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(LIFETIME)
    print("PORT", server.getsockname()[1], flush=True)
    conn, _ = server.accept()
    conn.settimeout(LIFETIME)
    with open(sys.argv[2], "wb") as record:
        try:
            scenario(Session(conn, record, cert, key))
        except (ConnectionError, ssl.SSLError, socket.timeout, BrokenPipeError):
            pass
    conn.close()


if __name__ == "__main__":
    main()
