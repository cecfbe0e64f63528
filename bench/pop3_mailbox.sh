# Sourced by the POP3 benchmarks: filling a private Dovecot's mailbox and medians.

# fill_mailbox MAILDIR COUNT SIZE: COUNT messages of SIZE bytes (CRLF text lines,
# some starting with a dot), owned as the Maildir is, delivered into new/.
fill_mailbox() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, random, sys
maildir, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
owner = os.stat(maildir)
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

# The median of the numbers on stdin, one a line.
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
