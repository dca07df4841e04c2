"""Runs a command and prints its wall time and the CPU time (user + system)
of the process and its children: `measure.py LABEL CMD...`."""

import resource
import subprocess
import sys
import time

label, command = sys.argv[1], sys.argv[2:]
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
wall = time.monotonic() - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
status = "ok" if result.returncode == 0 else "FAILED: " + result.stderr.decode(errors="replace").strip()
print("%-34s wall %7.3f s   cpu %7.3f s   %s" % (label, wall, cpu, status))
sys.exit(result.returncode)
