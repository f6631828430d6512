#!/usr/bin/python3
"""The Python module's call overhead on a 640 x 480 colour photo.

Runs build/bin/python_overhead_bench (the C++ simulations alone, Google
Benchmark, 15 repetitions) and times the same calls through the module (15
rounds), on the same image: NatIm13.jpg repeated to 480 x 640, in C order.
Prints, for each side, the fastest and the median wall-clock time of a call
and the processor time of the whole process per call (all threads), and the
overhead in percent of each. Processor time is what the call costs in work:
unlike wall-clock time it does not count the time the machine gave to other
work (on a shared virtual machine, often more than the call itself).

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
ROUNDS = 15


def seconds(call):
    """(fastest, median, median processor time) of ROUNDS calls, after one to warm up."""
    call()  # page faults, the plug-in's first load
    times, cpu = [], []
    for _ in range(ROUNDS):
        t, c = time.perf_counter(), time.process_time()
        call()
        cpu.append(time.process_time() - c)
        times.append(time.perf_counter() - t)
    return min(times), statistics.median(times), statistics.median(cpu)


def main():
    src = ocumbra.read_image(os.path.join(BIN, "NatIm13.jpg"))
    # In C order, as read_image and the imaging libraries give images.
    img = np.ascontiguousarray(src[np.arange(480) % src.shape[0]][:, np.arange(640) % src.shape[1]])
    polar = ocumbra.read_image(os.path.join(BIN, "polarplotREmd.bmp"))
    python = {
        "BM_Fixindep": lambda: ocumbra.fixindep(img, acuity=0.1),
        "BM_Fixdep": lambda: ocumbra.fixdep(img, polar=polar),
        "BM_Glare": lambda: ocumbra.glare(img, glare=5),
        "BM_Colour": lambda: ocumbra.colour(img, "deutan"),
    }
    out = subprocess.run([os.path.join(BIN, "python_overhead_bench"), "--benchmark_format=json",
                          f"--benchmark_repetitions={ROUNDS}"],
                         check=True, capture_output=True, text=True).stdout
    cpp, cpp_cpu = {}, {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            name = b["run_name"].split("/")[0]
            cpp.setdefault(name, []).append(b["real_time"] / 1e3)
            cpp_cpu.setdefault(name, []).append(b["cpu_time"] / 1e3)
    print(f"{'call':<10} {'C++ min':>8} {'Python min':>11} {'overhead':>9}   {'C++ median':>11} {'Python median':>14}"
          f"   {'C++ CPU':>8} {'Python CPU':>11} {'overhead':>9}")
    for name, call in python.items():
        (pmin, pmed, pcpu), c = seconds(call), cpp[name]
        cmin, cmed, ccpu = min(c), statistics.median(c), statistics.median(cpp_cpu[name])
        print(f"{name[3:].lower():<10} {cmin * 1e3:7.2f}ms {pmin * 1e3:9.2f}ms {100 * (pmin - cmin) / cmin:8.1f}%"
              f"   {cmed * 1e3:9.2f}ms {pmed * 1e3:12.2f}ms"
              f"   {ccpu * 1e3:6.2f}ms {pcpu * 1e3:9.2f}ms {100 * (pcpu - ccpu) / ccpu:8.1f}%")
    print(f"load average: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
