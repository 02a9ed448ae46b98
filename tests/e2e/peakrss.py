# Peak memory of the driver's processes while jobs run: every 20 ms, reads
# VmHWM (the kernel's high-water mark of the resident set) of each process
# whose program lies under the folder given, and keeps the largest value seen
# per process (under the program it runs last: a child of the chain runner
# counts as the filter it execs). VmHWM only grows, so a sample taken at any time after the peak
# holds it; a peak reached in the last 20 ms of a process's life is missed.
# On SIGTERM it writes "PID PROGRAM PEAK_KIB" lines to the file given.
# Usage: peakrss.py ROOT OUTFILE
import os
import signal
import sys
import time

root, outfile = sys.argv[1].rstrip("/") + "/", sys.argv[2]
peak = {}
running = True


def stop(*_):
    global running
    running = False


signal.signal(signal.SIGTERM, stop)
while running:
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            exe = os.readlink("/proc/%s/exe" % pid)
            if not exe.startswith(root):
                continue
            with open("/proc/%s/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        kib = int(line.split()[1])
                        name = os.path.basename(exe)
                        old = peak.get(pid, (name, 0))
                        peak[pid] = (name, max(old[1], kib) if old[0] == name else kib)
                        break
        except OSError:
            continue
    time.sleep(0.02)
with open(outfile + ".tmp", "w") as f:
    for pid, (name, kib) in sorted(peak.items()):
        f.write("%s %s %d\n" % (pid, name, kib))
os.rename(outfile + ".tmp", outfile)
