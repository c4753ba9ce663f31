#!/usr/bin/env python3
"""Checks a station's record (--record) against what each simulated receiver
got, as receiver-sim's summary tells it.

usage: station_record_check.py RECORD PORT SIM_LOG EXPECTED [PORT SIM_LOG EXPECTED ...]

EXPECTED: "success N" (N units, each loaded with the bytes and SHA-256 its
receiver got whole), "error TEXT" (failed units only, the first one's
message holding TEXT) or "cancelled" (one cancelled unit). Every line of the record must be
whole (nine fields, CR LF) and belong to one of the ports. Exits 1, saying
why, when anything differs."""
import csv
import io
import re
import sys

HEADER = "time,port,usb_serial,script,files,bytes,result,message,seconds\r\n"


def received(sim_log):
    """(size, sha256) of each data file the receiver got whole, unit by unit."""
    text = open(sim_log, encoding="utf-8", errors="replace").read()
    units = re.findall(r"^Unit \d+ done: .*$", text, re.M)
    if units:
        return [(int(size), sha) for line in units
                for size, sha, bad in re.findall(r"; (\d+) bytes, SHA-256 ([0-9a-f]{64})( INCOMPLETE)?", line)
                if not bad]
    return [(int(size), sha) for size, sha in re.findall(r"^  \d+: (\d+) bytes, SHA-256 ([0-9a-f]{64}), complete",
                                                        text, re.M)]


def main(argv):
    raw = open(argv[1], "rb").read().decode("utf-8")
    problems = []
    if not raw.startswith(HEADER):
        problems.append("no header line")
    if raw and not raw.endswith("\r\n"):
        problems.append("the last line is cut")
    rows = list(csv.reader(io.StringIO(raw[len(HEADER):], newline="")))
    rows = [row for row in rows if row]
    for row in rows:
        if len(row) != 9:
            problems.append("not nine fields: %r" % row)
    expected = argv[2:]
    ports = set(expected[0::3])
    for row in rows:
        if len(row) == 9 and row[1] not in ports:
            problems.append("a line of no port of the station: %r" % row)
        # Paths as Windows writes them, their backslashes single.
        if len(row) == 9 and ("\\\\" in row[3] or "\\\\" in row[4] or ":\\" not in row[3]):
            problems.append("the paths are not as given: %r" % row[3:5])
    for port, sim_log, want in zip(expected[0::3], expected[1::3], expected[2::3]):
        lines = [row for row in rows if len(row) == 9 and row[1] == port]
        result, _, detail = want.partition(" ")
        count = int(detail) if result == "success" else 1
        if (len(lines) != count and not (result == "error" and lines)) or any(row[6] != result for row in lines):
            problems.append("%s: wanted %s, the record has %r" % (port, want, [(r[6], r[7]) for r in lines]))
            continue
        if result == "error" and detail not in lines[0][7]:
            problems.append("%s: the message %r does not say %r" % (port, lines[0][7], detail))
        if result == "success":
            recorded = [(int(row[5]), row[4].rpartition("=")[2]) for row in lines]
            got = received(sim_log)
            if sorted(recorded) != sorted(got):
                problems.append("%s: recorded %r, the receiver got %r" % (port, recorded, got))
    for problem in problems:
        print("record: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
