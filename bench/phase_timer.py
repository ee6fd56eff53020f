#!/usr/bin/env python3
"""Runs a command, timestamps the phase lines it prints on stderr, and reports wall time,
peak memory (max RSS of the child) and the duration of each phase as JSON on stdout."""
import json
import resource
import subprocess
import sys
import time

start = time.monotonic()
proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
phases = []
for line in proc.stderr:
    line = line.rstrip("\n")
    if line.endswith("..."):
        phases.append([line[:-3], time.monotonic() - start])
out = proc.stdout.read()
code = proc.wait()
wall = time.monotonic() - start
durations = {}
for i, (name, t) in enumerate(phases):
    end = phases[i + 1][1] if i + 1 < len(phases) else wall
    durations[name] = end - t
files = 0
for line in out.splitlines():
    if line.startswith("Files scanned:"):
        files = int(line.split(":")[1])
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
print(json.dumps({"code": code, "wall": wall, "peakMiB": peak, "files": files, "phases": durations}))
