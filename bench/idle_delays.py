#!/usr/bin/env python3
"""How long after each delivery something heard of it.

    idle_delays.py STARTS EVENTS [BASELINE]

STARTS holds "<number>\\t<epoch seconds>" lines: when delivery NUMBER was made (or
when what led to it began). EVENTS and BASELINE hold "<epoch seconds>\\t<text>" lines
from a listener. An event tells of delivery N when its text names "delivery N" (a
notification, a delivered message's subject) or is "* M EXISTS" with M >= N (the
deliveries are numbered from 1 in a mailbox that started empty). A delivery's delay is
the time from its start to the first event at or after it that tells of it; with
BASELINE, from the first such event in BASELINE instead.

Prints "<median> <95th percentile> <worst> <heard> <deliveries>", the times in
milliseconds (the percentile by nearest rank), "- - - 0 N" when nothing was heard.
"""
import math
import re
import statistics
import sys

EXISTS = re.compile(r"^\* (\d+) EXISTS")


def read_pairs(path):
    with open(path) as f:
        return [line.rstrip("\n").split("\t", 1) for line in f if "\t" in line]


def tells_of(text, number):
    exists = EXISTS.match(text)
    if exists:
        return int(exists.group(1)) >= number
    return re.search(r"\bdelivery %d\b" % number, text) is not None


def heard_at(events, number, since):
    return next((at for at, text in events if at >= since and tells_of(text, number)), None)


def main():
    starts = [(int(number), float(at)) for number, at in read_pairs(sys.argv[1])]
    events = [(float(at), text) for at, text in read_pairs(sys.argv[2])]
    baseline = [(float(at), text) for at, text in read_pairs(sys.argv[3])] if len(sys.argv) > 3 else None
    delays = []
    for number, at in starts:
        heard = heard_at(events, number, at)
        origin = heard_at(baseline, number, at) if baseline is not None else at
        if heard is not None and origin is not None:
            delays.append((heard - origin) * 1000)
    if not delays:
        print("- - - 0 %d" % len(starts))
        return
    delays.sort()
    rank95 = delays[math.ceil(0.95 * len(delays)) - 1]
    print("%.1f %.1f %.1f %d %d" % (statistics.median(delays), rank95, delays[-1], len(delays), len(starts)))


if __name__ == "__main__":
    main()
