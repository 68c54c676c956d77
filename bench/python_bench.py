"""The Python module against the C++ programs on the same files.

    /usr/bin/python3 bench/python_bench.py [ROUNDS]     (default 5; from a built release tree)

harnix.read of a 1024 x 1024 file against the C++ reader (harnix-read-file), each the median of
ROUNDS x 50 reads, the release of the maps left out of both; harnix.average of 64 inputs of
1024 x 1024 (plane removal, average, deviation and count saved) against harnix with the same
options and threads, run in alternation, medians of ROUNDS of the wall time and of the processor
time (all threads; trust the latter on a shared machine); and the peak resident memory of a
Python process averaging N = 16, 64 and 256 inputs (the 64 files named over and over). The files
are made under build/bench/python-data, again whenever harnix-util is newer than they are.
"""

import os
import resource
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
DATA = os.path.join(ROOT, "build", "bench", "python-data")
OUT = os.path.join(ROOT, "build", "bench", "python-out")
sys.path.insert(0, os.path.join(BUILD, "python"))
import harnix  # noqa: E402

HARNIX = os.path.join(BUILD, "harnix")
UTIL = os.path.join(BUILD, "tools", "harnix-util")
READ_FILE = os.path.join(BUILD, "bench", "harnix-read-file")
COUNT, SIDE = 64, 1024


def inputs():
    made = os.path.join(DATA, "list.txt")
    # A generator that changed may make other bytes: the set is made again after every build.
    if not os.path.exists(made) or os.path.getmtime(made) < os.path.getmtime(UTIL):
        for old in os.listdir(DATA) if os.path.isdir(DATA) else ():
            os.unlink(os.path.join(DATA, old))
        subprocess.run([UTIL, "synth", "--out", DATA, "--count", str(COUNT), "--width", str(SIDE),
                        "--height", str(SIDE), "--seed", "9"], check=True, stdout=subprocess.DEVNULL)
    paths = sorted(os.path.join(DATA, p) for p in os.listdir(DATA) if p.endswith(".dat"))
    for p in paths:  # into the page cache
        with open(p, "rb") as f:
            f.read()
    return paths


def python_read(path, n):
    times = []
    for _ in range(n):
        start = time.perf_counter()
        m = harnix.read(path)
        times.append(time.perf_counter() - start)
        del m  # released outside the time, as the C++ reader's maps are
    return statistics.median(times)


def own_cpu():
    u = resource.getrusage(resource.RUSAGE_SELF)
    return u.ru_utime + u.ru_stime


def cli_average(paths, threads):
    """(wall, processor) seconds of harnix."""
    start = time.perf_counter()
    child = subprocess.Popen([HARNIX, "-Overwrite", "-SdevRemove", "plane", "-Threads",
                              str(threads), "-AvgOut", os.path.join(OUT, "a.dat"),
                              "-SdevOut", os.path.join(OUT, "s.dat"),
                              "-CountOut", os.path.join(OUT, "c.dat"), *paths])
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    assert status == 0
    return wall, usage.ru_utime + usage.ru_stime


def python_average(paths, threads):
    """(wall, processor) seconds of harnix.average and the saving of its three maps."""
    cpu, start = own_cpu(), time.perf_counter()
    r = harnix.average(paths, remove="plane", threads=threads)
    r.save(average=os.path.join(OUT, "pa.dat"), deviation=os.path.join(OUT, "ps.dat"),
           count=os.path.join(OUT, "pc.dat"))
    wall = time.perf_counter() - start
    del r
    return wall, own_cpu() - cpu


def peak_kib(paths, n):
    code = ("import sys, harnix; harnix.average(sys.argv[1:], remove='plane', threads=1)")
    names = (paths * (n // len(paths) + 1))[:n]
    env = dict(os.environ, PYTHONPATH=os.path.join(BUILD, "python"))
    child = subprocess.Popen(["/usr/bin/python3", "-c", code, *names], env=env)
    _, status, usage = os.wait4(child.pid, 0)
    assert status == 0
    return usage.ru_maxrss


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    os.makedirs(OUT, exist_ok=True)
    paths = inputs()
    cpu = next((ln.split(":", 1)[1].strip() for ln in open("/proc/cpuinfo")
                if ln.startswith("model name")), "unknown processor")
    print(f"processor: {cpu}, {os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}; "
          f"{rounds} rounds")
    py = statistics.median(python_read(paths[0], 50) for _ in range(rounds))
    cpp = statistics.median(float(subprocess.run([READ_FILE, paths[0], "50"], check=True,
                                                 capture_output=True, text=True).stdout)
                            for _ in range(rounds))
    print(f"read 1024x1024: harnix.read {py * 1e3:.2f} ms, C++ reader {cpp * 1e3:.2f} ms, "
          f"ratio {py / cpp:.3f}")
    for threads in (1, os.cpu_count()):
        cli, pyt = [], []
        for _ in range(rounds):
            cli.append(cli_average(paths, threads))
            pyt.append(python_average(paths, threads))
        c, p = (statistics.median(t[0] for t in cli), statistics.median(t[0] for t in pyt))
        cc, pc = (statistics.median(t[1] for t in cli), statistics.median(t[1] for t in pyt))
        same = all(open(os.path.join(OUT, a), "rb").read() == open(os.path.join(OUT, b), "rb").read()
                   for a, b in (("a.dat", "pa.dat"), ("s.dat", "ps.dat"), ("c.dat", "pc.dat")))
        print(f"average 64 x 1024x1024, plane, {threads} threads: harnix {c:.3f} s, "
              f"harnix.average + save {p:.3f} s, ratio {p / c:.3f}; processor {cc:.3f} s "
              f"against {pc:.3f} s, ratio {pc / cc:.3f}; same bytes: {same}")
    for n in (16, 64, 256):
        print(f"peak memory, N = {n}: {peak_kib(paths, n) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
