#!/usr/bin/env python3
"""Delivers small messages into a Maildir as a mail server does: written in tmp/, then
renamed into new/.

    maildir_delivery.py MAILDIR FIRST COUNT LOG_FILE

Delivers COUNT messages with the subjects "delivery FIRST" onwards, the first at once and
each next one 1 s after the one before plus a jitter of up to 0.25 s (so that deliveries
fall at no fixed phase of anyone's timers). Appends "<number>\\t<epoch seconds>" to
LOG_FILE for each, the time taken right after the rename. The files take the Maildir's
owner.
"""
import os
import random
import sys
import time

SPACING = 1.0
JITTER = 0.25


def message(number):
    return (
        "From: Bench <bench@example.jp>\r\n"
        "To: Reader <reader@example.jp>\r\n"
        "Subject: delivery %d\r\n"
        "Date: %s\r\n"
        "Message-ID: <delivery-%d-%d@example.jp>\r\n"
        "\r\n"
        "A letter for the fish.\r\n" % (number, time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime()),
                                        number, os.getpid())
    ).encode()


def deliver(maildir, number, owner):
    name = "%d.M%dP%d.bench" % (time.time(), number, os.getpid())
    path = os.path.join(maildir, "tmp", name)
    with open(path, "wb") as f:
        f.write(message(number))
    os.chown(path, owner.st_uid, owner.st_gid)
    os.rename(path, os.path.join(maildir, "new", name))
    return time.time()


def main():
    maildir, first, count, log_file = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    owner = os.stat(maildir)
    with open(log_file, "a", buffering=1) as log:
        for number in range(first, first + count):
            if number > first:
                time.sleep(SPACING + random.uniform(0, JITTER))
            log.write("%d\t%.6f\n" % (number, deliver(maildir, number, owner)))


if __name__ == "__main__":
    main()
