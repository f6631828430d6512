#!/usr/bin/python3
"""The Python module's call overhead on a 640 x 480 colour photo.

Runs build/bin/python_overhead_bench (the C++ simulations alone, Google
Benchmark, median of 10 repetitions) and times the same calls through the
module (median of 10 rounds), on the same image: NatIm13.jpg repeated to
480 x 640. Prints both and the overhead in percent.

    PYTHONPATH=build/python python3 bench/python_overhead.py [build/bin]
"""
import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np

import ocumbra

BIN = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build", "bin")
ROUNDS = 10


def median_seconds(call):
    call()  # warm up (page faults, the plug-in's first load)
    times = []
    for _ in range(ROUNDS):
        t = time.perf_counter()
        call()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def main():
    src = ocumbra.read_image(os.path.join(BIN, "NatIm13.jpg"))
    img = src[np.arange(480) % src.shape[0]][:, np.arange(640) % src.shape[1]]
    polar = ocumbra.read_image(os.path.join(BIN, "polarplotREmd.bmp"))
    python = {
        "BM_Fixindep": lambda: ocumbra.fixindep(img, acuity=0.1),
        "BM_Fixdep": lambda: ocumbra.fixdep(img, polar=polar),
        "BM_Glare": lambda: ocumbra.glare(img, glare=5),
        "BM_Colour": lambda: ocumbra.colour(img, "deutan"),
    }
    out = subprocess.run([os.path.join(BIN, "python_overhead_bench"), "--benchmark_format=json",
                          f"--benchmark_repetitions={ROUNDS}", "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    cpp = {b["run_name"].split("/")[0]: b["real_time"] / 1e3 for b in json.loads(out)["benchmarks"]
           if b.get("aggregate_name") == "median"}
    print(f"{'call':<12} {'C++ ms':>9} {'Python ms':>10} {'overhead':>9}")
    for name, call in python.items():
        p, c = median_seconds(call), cpp[name]
        print(f"{name[3:].lower():<12} {c * 1e3:9.2f} {p * 1e3:10.2f} {100 * (p - c) / c:8.1f}%")
    print(f"load average: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
