#!/usr/bin/env python3
# Tagvert: how long the command takes to end after Ctrl-C (SIGINT), at evenly spaced moments of
# a conversion: a generated realistic document and a document of nothing but '<'.
# Usage: tools/stop_latency.py [BUILD_DIR [POINTS [NICE]]]   (default build/release, 20 points)
# Prints per document the conversion time and the min / median / max latency from the signal to
# the end of the process, and the moments where it took longer than 0.2 s. The moments are
# fractions of the conversion time; a conversion that ended before its signal (the machine got
# faster) is tried again at the same fraction of its own time. NICE (e.g. -10, as root) runs the
# command ahead of the machine's other work, so that the figures are the program's and not
# the scheduler's.
# SPDX-License-Identifier: Apache-2.0
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
points = int(sys.argv[2]) if len(sys.argv) > 2 else 20
niceness = sys.argv[3] if len(sys.argv) > 3 else None
tagvert = os.path.join(build, "tagvert")
bench = os.path.join(build, "bench", "tagvert_bench")
LIMIT = 0.2


def command(ttx, out):
    # --force: a document of nothing but '<' is not recognised as TTX.
    run = [tagvert, "to-if", ttx, "-o", out, "--direction", "fr-fr", "--quiet", "--force"]
    return (["nice", "-n", niceness] if niceness else []) + run


def run_time(ttx, out):
    start = time.monotonic()
    subprocess.run(command(ttx, out), check=True, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def latency(ttx, out, fraction, total):
    """The latency of a SIGINT at `fraction` of the conversion; the conversion time, updated."""
    for _ in range(4):
        delay = total * fraction
        start = time.monotonic()
        process = subprocess.Popen(command(ttx, out), stderr=subprocess.DEVNULL)
        time.sleep(delay)
        if process.poll() is not None:
            total = time.monotonic() - start
            continue
        sent = time.monotonic()
        process.send_signal(signal.SIGINT)
        status = process.wait()
        return delay, time.monotonic() - sent, status, total
    return delay, None, None, total


def measure(name, ttx, work):
    out = os.path.join(work, "out.if")
    total = run_time(ttx, out)
    rows = []
    for i in range(1, points + 1):
        delay, seconds, status, total = latency(ttx, out, i / (points + 1), total)
        if seconds is None:
            print(f"  at {i}/{points + 1}: the conversion always ended before the signal")
            continue
        rows.append((delay, seconds, status))
    values = [seconds for _, seconds, _ in rows]
    print(f"{name}: conversion {total:.2f} s; latency over {points} moments: "
          f"min {min(values) * 1000:.0f} ms, median {statistics.median(values) * 1000:.0f} ms, "
          f"max {max(values) * 1000:.0f} ms")
    for delay, seconds, status in rows:
        mark = "  SLOW" if seconds > LIMIT else ""
        print(f"  at {delay:6.2f} s: {seconds * 1000:7.1f} ms, status {status}{mark}")
    # A stopped conversion ends as the signal does (the process is killed by SIGINT).
    late = [row for row in rows if row[2] != -signal.SIGINT]
    for delay, _, status in late:
        print(f"  at {delay:.2f} s: unexpected status {status}")


def main():
    with tempfile.TemporaryDirectory() as work:
        realistic = os.path.join(work, "doc.ttx")
        subprocess.run([bench, "generate", "50", realistic], check=True,
                       stdout=subprocess.DEVNULL)
        measure("50 MB generated document", realistic, work)
        brackets = os.path.join(work, "brackets.ttx")
        with open(brackets, "wb") as f:
            f.write(b"<" * (10 * 1024 * 1024))
        measure("10 MB of '<'", brackets, work)


main()
