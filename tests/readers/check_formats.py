#!/usr/bin/env python3
"""Reads kelvane's ASC, BLF, candump and CSV outputs with readers nobody here wrote and
compares every frame with the frame list the log was generated from.

    check_formats.py ROOT

ROOT/want/NAME.txt lists the CAN frames of log NAME in time order, one a line:
    MICROSECONDS BUS ID IDE RTR FD BRS ESI TX DLC HEXDATA|-
ROOT/OUT/in_out/NAME_CAN.EXT are the outputs, OUT one of asc, blf, candump, csv.

python-can 4.1 reads ASC (ASCReader, absolute times), BLF (BLFReader) and the candump log
(CanutilsLogReader); Python's csv module reads the CSV; can-utils' log2asc converts each
candump log and asc2log each ASC file, and their results must hold the same frames. Exits
77 when a reader is missing, 1 on any difference, 0 when every frame came back.
"""
import csv
import os
import shutil
import subprocess
import sys

os.environ["TZ"] = "UTC"  # the readers take the files' dates as local times
try:
    import time

    time.tzset()
    import can
except ImportError:
    print("python-can is not installed")
    sys.exit(77)
if not shutil.which("log2asc") or not shutil.which("asc2log"):
    print("can-utils is not installed")
    sys.exit(77)

FD_LENGTHS = [0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64]


class Frame:
    def __init__(self, line):
        f = line.split()
        self.us = int(f[0])
        self.bus, self.id = int(f[1]), int(f[2], 16)
        self.ide, self.rtr, self.fd, self.brs, self.esi, self.tx = (x == "1" for x in f[3:9])
        self.dlc = int(f[9])
        self.data = b"" if f[10] == "-" else bytes.fromhex(f[10])

    def length(self):
        return len(self.data)


def read_want(path):
    with open(path) as f:
        return [Frame(line) for line in f if line.strip()]


problems = []
counts = {}


def differ(fmt, name, i, what, got, want):
    problems.append(f"{fmt} {name} frame {i}: {what} {got!r}, want {want!r}")


def compare_message(fmt, name, i, m, w, bus, tolerance_us, length_is_dlc):
    """A python-can message against a wanted frame. The times may differ by a microsecond
    from the generated ones: the MDF reader adds the header's start time as a double of
    nanoseconds (256 ns apart at today's dates) in seconds; ASC and BLF add the reader's
    own float sum of their start date and the offset."""
    if abs(m.timestamp * 1e6 - w.us) > tolerance_us:
        differ(fmt, name, i, "time", m.timestamp, w.us / 1e6)
    if bus != w.bus:
        differ(fmt, name, i, "bus", bus, w.bus)
    if m.arbitration_id != w.id or m.is_extended_id != w.ide:
        differ(fmt, name, i, "id", (hex(m.arbitration_id), m.is_extended_id), (hex(w.id), w.ide))
    if m.is_fd != w.fd or m.is_rx == w.tx:
        differ(fmt, name, i, "fd/rx", (m.is_fd, m.is_rx), (w.fd, not w.tx))
    if w.fd and (m.bitrate_switch != w.brs or m.error_state_indicator != w.esi):
        differ(fmt, name, i, "brs/esi", (m.bitrate_switch, m.error_state_indicator), (w.brs, w.esi))
    # python-can's ASC reader takes an FD frame without data for a remote frame.
    remote = w.rtr or (fmt in ("asc", "log2asc") and w.fd and w.length() == 0)
    if m.is_remote_frame != remote:
        differ(fmt, name, i, "remote", m.is_remote_frame, remote)
    want_dlc = w.length() if (w.fd or (length_is_dlc and not w.rtr)) else w.dlc
    if m.dlc != want_dlc:
        differ(fmt, name, i, "dlc", m.dlc, want_dlc)
    if not w.rtr and bytes(m.data) != w.data:
        differ(fmt, name, i, "data", bytes(m.data).hex(), w.data.hex())


def check_reader(fmt, name, path, want, reader, bus_of, tolerance_us, length_is_dlc=False):
    got = list(reader(path))
    counts[fmt] = counts.get(fmt, 0) + len(got)
    if len(got) != len(want):
        problems.append(f"{fmt} {name}: {len(got)} frames read, want {len(want)}")
        return
    for i, (m, w) in enumerate(zip(got, want)):
        compare_message(fmt, name, i, m, w, bus_of(m), tolerance_us, length_is_dlc)


def check_csv(name, path, want):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    header = "time,bus,type,id,ide,rtr,dir,brs,esi,dlc,length,data".split(",")
    if rows[0] != header:
        problems.append(f"csv {name}: header {rows[0]}")
    rows = rows[1:]
    counts["csv"] = counts.get("csv", 0) + len(rows)
    if len(rows) != len(want):
        problems.append(f"csv {name}: {len(rows)} rows, want {len(want)}")
        return
    for i, (r, w) in enumerate(zip(rows, want)):
        seconds, fraction = r[0].split(".")
        expect = [
            str(w.bus), "CANFD" if w.fd else "CAN", ("%08X" if w.ide else "%03X") % w.id,
            str(int(w.ide)), str(int(w.rtr)), "Tx" if w.tx else "Rx", str(int(w.fd and w.brs)),
            str(int(w.fd and w.esi)), str(w.dlc), str(0 if w.rtr else w.length()),
            "" if w.rtr else w.data.hex().upper()]
        if abs(int(seconds) * 1000000 + int(fraction) - w.us) > 1 or len(fraction) != 6:
            differ("csv", name, i, "time", r[0], w.us)
        if r[1:] != expect:
            differ("csv", name, i, "row", r[1:], expect)


def run(args, stdin_path=None):
    return subprocess.run(args, capture_output=True, text=True, check=False)


def frames_of_candump_text(text):
    """(microseconds, rest of the line) of each frame line of a candump log."""
    out = []
    for line in text.splitlines():
        if line.startswith("("):
            stamp, rest = line.split(" ", 1)
            s, f = stamp[1:-1].split(".")
            out.append((int(s) * 1000000 + int(f), rest))
    return out


def check_can_utils(name, log_path, asc_path, want):
    mine = frames_of_candump_text(open(log_path).read())
    # asc2log gives the ASC frames back as a candump log: the same lines, the same distances.
    result = run(["asc2log", "-I", asc_path])
    back = frames_of_candump_text(result.stdout)
    counts["asc2log"] = counts.get("asc2log", 0) + len(back)
    if len(back) != len(want):
        problems.append(f"asc2log {name}: {len(back)} frames, want {len(want)}")
    else:
        for i, ((t, rest), (t0, mine_rest)) in enumerate(zip(back, mine)):
            if rest != mine_rest:
                differ("asc2log", name, i, "frame", rest, mine_rest)
            if abs((t - back[0][0]) - (t0 - mine[0][0])) > 1:
                differ("asc2log", name, i, "time", t - back[0][0], t0 - mine[0][0])
    # log2asc makes an ASC file of the candump log, which python-can reads like ours.
    buses = max(w.bus for w in want)
    result = run(["log2asc", "-I", log_path] + [f"can{b}" for b in range(buses)])
    lines = [l for l in result.stdout.splitlines() if l.strip()[:1].isdigit()]
    counts["log2asc"] = counts.get("log2asc", 0) + len(lines)
    if len(lines) != len(want):
        problems.append(f"log2asc {name}: {len(lines)} frame lines, want {len(want)}")
        return
    converted = os.path.join(os.path.dirname(log_path), name + "_log2asc.asc")
    with open(converted, "w") as f:
        f.write(result.stdout)
    got = list(can.ASCReader(converted, relative_timestamp=True))
    if len(got) != len(want):
        problems.append(f"log2asc {name}: python-can reads {len(got)}, want {len(want)}")
        return
    first = got[0].timestamp
    for i, (m, w) in enumerate(zip(got, want)):
        m.timestamp = m.timestamp - first + want[0].us / 1e6
        compare_message("log2asc", name, i, m, w, m.channel + 1, 2, length_is_dlc=True)


def main():
    root = sys.argv[1]
    names = sorted(n[:-4] for n in os.listdir(os.path.join(root, "want")) if n.endswith(".txt"))
    for name in names:
        want = read_want(os.path.join(root, "want", name + ".txt"))
        paths = {fmt: os.path.join(root, fmt, "in_out", f"{name}_CAN.{ext}")
                 for fmt, ext in (("asc", "asc"), ("blf", "blf"), ("candump", "log"), ("csv", "csv"))}
        if not want:
            for fmt, p in paths.items():
                if os.path.exists(p):
                    problems.append(f"{fmt} {name}: an output without frames")
            continue
        missing = [fmt for fmt, p in paths.items() if not os.path.exists(p)]
        if missing:
            problems.append(f"{name}: no output in {missing}")
            continue
        check_reader("asc", name, paths["asc"], want,
                     lambda p: can.ASCReader(p, relative_timestamp=False),
                     lambda m: m.channel + 1, 2)
        check_reader("blf", name, paths["blf"], want, can.BLFReader, lambda m: m.channel + 1, 2)
        check_reader("candump", name, paths["candump"], want, can.CanutilsLogReader,
                     lambda m: int(m.channel[3:]) + 1, 1, length_is_dlc=True)
        check_csv(name, paths["csv"], want)
        check_can_utils(name, paths["candump"], paths["asc"], want)
    for p in problems[:40]:
        print(p)
    total = sum(len(read_want(os.path.join(root, "want", n + ".txt"))) for n in names)
    print(f"{len(names)} logs, {total} frames; read back: " +
          ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))
    sys.exit(1 if problems else 0)


main()
