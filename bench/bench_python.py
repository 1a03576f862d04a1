#!/usr/bin/env python3
"""The Python package's timing, printed as figures (run by hand, not a test).

    PYTHONPATH=python python3 bench/bench_python.py [--moves N]

Serves a virtual kit with its log, then moves the elbow N times for 0.5 s (up and down in turn, so that
the runaway limit never joins them into one motion) and prints, median and p99: how long after the call
the start reached the arm, how long after the call plus 0.5 s the stop reached it, and how long the
motor ran at the arm. Then the package's import time.

The log stamps each command with the service's clock, seconds since its start on CLOCK_MONOTONIC, as
time.monotonic() here. The offset between the two is taken from a process that follows the log: the
smallest gap between a line's stamp and the moment it was seen, so that the figures are high by at most
that process's polling delay (printed).
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, "python"))

FOLLOW = r"""
import os, sys, time
path = sys.argv[1]
while not os.path.exists(path):
    time.sleep(0.001)
with open(path) as log:
    part = ""
    while True:
        chunk = log.read()
        if chunk:
            now = time.monotonic()
            part += chunk
            *lines, part = part.split("\n")
            for line in lines:
                print("%.7f %s" % (now, line), flush=True)
        else:
            time.sleep(0.0001)
"""


def quantiles(values):
    ordered = sorted(values)
    return statistics.median(ordered), ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def ms(pair):
    return "median %.2f ms, p99 %.2f ms" % (pair[0] * 1000, pair[1] * 1000)


def import_time(module, compiled, runs=21):
    """Median over runs of `python3 -X importtime`'s cumulative time for module and its package, in ms,
    from the sources alone or with their bytecode cached (as an installed package has it)."""
    env = dict(os.environ, PYTHONPATH=sys.path[0])
    env.pop("PYTHONDONTWRITEBYTECODE", None)
    if compiled:
        env["PYTHONPYCACHEPREFIX"] = tempfile.mkdtemp(prefix="bench_python.pycache.")
    else:
        env["PYTHONDONTWRITEBYTECODE"] = "1"
    times = []
    for run in range(runs + 1):
        done = subprocess.run([sys.executable, "-X", "importtime", "-c", "import " + module],
                              capture_output=True, text=True, env=env)
        # The package's lines at the top level: tessaro, and tessaro.usb_arm when that is asked for.
        top = [line.split("|") for line in done.stderr.splitlines() if "| tessaro" in line]
        if run:  # the first run writes the bytecode
            times.append(sum(int(fields[1]) for fields in top) / 1000)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--moves", type=int, default=200)
    moves = parser.parse_args().moves

    folder = tempfile.mkdtemp(prefix="bench_python.")
    os.mkdir(os.path.join(folder, "run"), 0o700)
    log = os.path.join(folder, "arm.log")
    os.environ.update(XDG_RUNTIME_DIR=os.path.join(folder, "run"), TESSARO_VIRTUAL_ARM="kit",
                      TESSARO_VIRTUAL_ARM_LOG=log)
    import tessaro

    follower = subprocess.Popen([sys.executable, "-c", FOLLOW, log], stdout=subprocess.PIPE, text=True)
    calls = []
    with tessaro.Arm() as arm:
        arm.light = False  # a first line, so that the follower is under way
        time.sleep(0.5)
        for i in range(moves):
            called = time.monotonic()
            (arm.elbow.up if i % 2 == 0 else arm.elbow.down)(0.5)
            calls.append(called)
            time.sleep(0.02)
        time.sleep(0.3)
    follower.terminate()
    seen = []
    for line in follower.communicate()[0].splitlines():
        at, stamp, code, _ = line.split()
        seen.append((float(at), float(stamp), int(code)))
    offset = min(at - stamp for at, stamp, _ in seen)
    polling = statistics.median(at - stamp - offset for at, stamp, _ in seen)
    # Each move: its start (elbow up 3 or down 8), then its stop (0).
    codes = [(stamp + offset, code) for _, stamp, code in seen]
    pairs = [(codes[i][0], codes[i + 1][0]) for i in range(len(codes) - 1)
             if codes[i][1] in (3, 8) and codes[i + 1][1] == 0]
    if len(pairs) != len(calls):
        sys.exit("bench_python: %d moves but %d start/stop pairs in the log" % (len(calls), len(pairs)))

    print("arm.elbow.up/down(0.5) on a virtual kit, %d moves (the log's clock against time.monotonic(): "
          "followed with a median delay of %.3f ms)" % (moves, polling * 1000))
    print("  start at the arm after the call:        " + ms(quantiles([s - c for c, (s, _) in zip(calls, pairs)])))
    print("  stop at the arm after the call + 0.5 s: " + ms(quantiles([e - c - 0.5 for c, (_, e) in zip(calls, pairs)])))
    print("  motor ran at the arm, minus 0.5 s:      " + ms(quantiles([e - s - 0.5 for s, e in pairs])))
    print("import time (python3 -X importtime, median of 21 runs), compiled / from the sources:")
    for module in ("tessaro", "tessaro.usb_arm"):
        print("  %-16s %.1f ms / %.1f ms" % (module, import_time(module, True), import_time(module, False)))


if __name__ == "__main__":
    main()
