#!/usr/bin/env python3
"""Speed of the Python module against the C++ layer it wraps.

Writes a log of N records with 64-byte payloads (default 2,000,000), then
prints records/s for: the C++ reader alone (corvane._read_all, no Python per
record), read_batch over the whole log in batches of B records (default
65,536; the first batch is a warm-up, so page faults of fresh arrays do not
count), and plain Python iteration. Also the peak resident memory after the
batches, which stays the same whatever N is.

    PYTHONPATH=build/<preset>/python python3 bench/python_bench.py [N] [B] [DIR]
"""
import os
import resource
import sys
import tempfile
import time

import corvane


def rate(count, seconds):
    return f"{count / seconds / 1e6:6.2f} M records/s"


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 2_000_000
    batch = int(sys.argv[2]) if len(sys.argv) > 2 else 65_536
    directory = sys.argv[3] if len(sys.argv) > 3 else ("/dev/shm" if os.path.isdir("/dev/shm") else None)
    with tempfile.TemporaryDirectory(dir=directory) as tmp:
        path = os.path.join(tmp, "bench.cvr")
        payload = bytes(range(64))
        start = time.perf_counter()
        with corvane.open(path, "w") as log:
            write = log.write
            for i in range(n):
                write(0x50, i & 7, payload, time_ns=i)
        print(f"write (Python loop)   {rate(n, time.perf_counter() - start)}")

        start = time.perf_counter()
        cpp = corvane._read_all(path)
        cpp_seconds = time.perf_counter() - start
        print(f"C++ reader            {rate(cpp, cpp_seconds)}")

        with corvane.open(path) as log:
            read = len(log.read_batch(count=batch).records)  # warm-up
            start = time.perf_counter()
            while True:
                records = log.read_batch(count=batch).records
                if len(records) == 0:
                    break
                read += len(records)
            seconds = time.perf_counter() - start
        assert read == cpp, (read, cpp)
        batch_rate = (read - batch) / seconds
        print(f"read_batch({batch})   {rate(read - batch, seconds)}   "
              f"{batch_rate / (cpp / cpp_seconds):.2f} of C++")

        with corvane.open(path) as log:
            start = time.perf_counter()
            count = sum(1 for _ in log)
            seconds = time.perf_counter() - start
        print(f"Python iteration      {rate(count, seconds)}")
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print(f"peak resident memory  {peak / 1024:.0f} MiB")


if __name__ == "__main__":
    main()
