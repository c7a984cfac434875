#!/usr/bin/env python3
"""Image sets per second from zeb's Python package next to zeb acquire --continuous, and a surface
from Python next to the C++ benchmark's, in the same run on the built-in station.

Run by hand after the Linux build (see docs/python.md):

    /usr/bin/python3 bench/python_bench.py [--build build/linux] [--seconds 4] [--rounds 3]

Each round acquires from the area-scan channel for the given seconds with zeb (the acquisition
alone: no files) and then with ``Channel.stream()`` (the arrays made, nothing else), alternating,
so that both see the machine in the same state; the rates are the medians of the rounds without
each run's start-up. The surface: the median time of ``zeb.surface`` over 8 image sets of the
live station against ``zeb_height_bench``'s BM_SurfaceHeightPart (same size, 1280 x 1024, its
light field warm in both; both solve with heights, as ``zeb acquire --surface`` does).
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent


def zeb_rate(zeb: Path, channel: int, seconds: float) -> float:
    """Image sets per second of zeb acquire --continuous, without its start-up (the station renders
    its scene once, which may take long on a busy machine): timed from its first image set."""
    process = subprocess.Popen([str(zeb), "acquire", "--channel", str(channel), "--continuous", "--json"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    started = threading.Event()

    def watch() -> None:  # the live line says "N image sets, ..." from the first set on
        text = ""
        while not started.is_set():
            character = process.stderr.read(1)
            if not character:
                return
            text += character
            if " image set" in text:
                started.set()
        process.stderr.read()

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    started.wait(timeout=300)
    time.sleep(seconds)
    process.send_signal(signal.SIGINT)
    out, _ = process.communicate(timeout=60)
    result = json.loads(out)
    return 1000.0 / result["msPerImageSet"]


def python_rate(zeb_module, channel: int, seconds: float) -> float:
    """Image sets per second of Channel.stream(), from its first image set."""
    with zeb_module.open(channel) as opened, opened.stream() as stream:
        first = None
        sets = 0
        for image_set in stream:
            image_set.directions  # what a script reads
            now = time.perf_counter()
            if first is None:
                first = now
                continue
            sets += 1
            if now - first >= seconds:
                return sets / (now - first)
    raise RuntimeError("the stream ended")


def surface_ms(zeb_module, count: int = 8) -> float:
    with zeb_module.open(0) as opened, opened.stream(count + 1) as stream:
        sets = list(stream)
    zeb_module.surface(sets[0])  # the light field for this size, once
    times = []
    for image_set in sets[1:]:
        start = time.perf_counter()
        zeb_module.surface(image_set)
        times.append(time.perf_counter() - start)
    return 1000.0 * statistics.median(times)


def cpp_surface_ms(bench: Path) -> float:
    """The height-solved surface of the part (zeb_height_bench's BM_SurfaceHeightPart: the time of
    the solve with heights alone, as zeb acquire --surface and zeb.surface solve)."""
    out = subprocess.run([str(bench), "--benchmark_filter=BM_SurfaceHeightPart", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    for entry in json.loads(out)["benchmarks"]:
        if entry.get("run_type") == "iteration" or entry.get("aggregate_name") == "median":
            return entry["real_time"]
    raise RuntimeError("no time in zeb_height_bench's output")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(SOURCE / "build" / "linux"))
    parser.add_argument("--seconds", type=float, default=4.0)
    parser.add_argument("--rounds", type=int, default=3)
    arguments = parser.parse_args()
    bin_folder = Path(arguments.build).resolve() / "bin"
    os.environ["ZEB_HOST_LIBRARY"] = str(bin_folder)
    os.environ.pop("ZEB_STATION", None)
    sys.path.insert(0, str(SOURCE / "python"))
    import zeb as zeb_module

    zeb_rates, python_rates = [], []
    for round_number in range(arguments.rounds):
        zeb_rates.append(zeb_rate(bin_folder / "zeb", 0, arguments.seconds))
        python_rates.append(python_rate(zeb_module, 0, arguments.seconds))
        print("round %d: zeb acquire --continuous %.1f image sets/s, Python stream() %.1f image sets/s"
              % (round_number + 1, zeb_rates[-1], python_rates[-1]), flush=True)
    zeb_median, python_median = statistics.median(zeb_rates), statistics.median(python_rates)
    print("area scan, medians of %d rounds: zeb %.1f/s, Python %.1f/s, ratio %.2f (goal at least 0.9)"
          % (arguments.rounds, zeb_median, python_median, python_median / zeb_median))
    python_ms = surface_ms(zeb_module)
    bench = bin_folder / "zeb_height_bench"
    if not bench.is_file():
        print("surface of 1280 x 1024: Python %.1f ms; no zeb_height_bench in %s to compare with (build "
              "the target zeb_height_bench)" % (python_ms, bin_folder))
        return 1
    cpp_ms = cpp_surface_ms(bench)
    print("surface of 1280 x 1024: Python %.1f ms, C++ benchmark %.1f ms, ratio %.2f (goal at most 1.10)"
          % (python_ms, cpp_ms, python_ms / cpp_ms))
    return 0


if __name__ == "__main__":
    sys.exit(main())
