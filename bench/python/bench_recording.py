#!/usr/bin/env python3
"""Frames per second of iterating a recording in Python against the C++
get_scene(scene, index) loop (BM_Replay_Index) over the same file, in the
same run, raw and processed.

    PYTHONPATH=build/python python3 bench/python/bench_recording.py [--build build]

Records 500 frames of the in-process simulator first (about 5 s), or reads
the file given with --recording. The target is Python >= 80% of C++.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

import velkor

FRAMES = 500


def record(directory):
    """500 frames of the simulator, every one of which assembles."""
    for _ in range(3):
        with velkor.Simulator(fps=100) as sim, velkor.Sensor(sim.address, local="127.0.0.1:0",
                                                             processing=False) as sensor:
            path = sensor.record(directory)
            for _ in sensor.scenes(max_frames=FRAMES + 1):
                pass
            sensor.stop_recording()
        rec = velkor.Recording(path, processing=False)
        if len(rec) >= FRAMES and sum(1 for _ in rec) == len(rec):
            return path
    sys.exit("could not record 500 whole frames")


def cpp_fps(bench, path):
    """frames/s of BM_Replay_Index per processing switch, from its JSON."""
    out = subprocess.run([bench, "--benchmark_filter=BM_Replay_Index", "--benchmark_format=json",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         env={**os.environ, "VELKOR_BENCH_RECORDING": path},
                         check=True, capture_output=True, text=True).stdout
    fps = {}
    for run in json.loads(out)["benchmarks"]:
        if run.get("aggregate_name") == "median":
            fps["processing:1" in run["name"]] = run["items_per_second"]
    return fps


def python_fps(path, processing, repetitions=3):
    """Median frames/s of `for scene in Recording(path)` over repetitions."""
    rec = velkor.Recording(path, processing=processing)
    rates = []
    for _ in range(repetitions):
        start = time.perf_counter()
        frames = sum(1 for _ in rec)
        rates.append(frames / (time.perf_counter() - start))
    return sorted(rates)[len(rates) // 2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build tree (default: build)")
    parser.add_argument("--recording", help="a recording to read instead of a new one")
    args = parser.parse_args()
    bench = os.path.join(args.build, "bench", "velkor_bench")
    with tempfile.TemporaryDirectory() as directory:
        path = args.recording or record(directory)
        frames = len(velkor.Recording(path, processing=False))
        print(f"recording: {path} ({frames} frames)")
        cpp = cpp_fps(bench, path)
        ok = True
        for processing in (False, True):
            py = python_fps(path, processing)
            ratio = py / cpp[processing]
            ok &= ratio >= 0.8
            print(f"processing {'on ' if processing else 'off'}: C++ {cpp[processing]:8.1f} frames/s, "
                  f"Python {py:8.1f} frames/s, ratio {ratio:.2f} (target >= 0.80)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
