#!/usr/bin/python3
"""Frames per second of one process against a LocalCluster of worker
processes, each pinned to its share of the cores, and the scheduling cost of
one chunk (a task that does nothing but what every chunk task does around
its frames: check the run's stop event and report back).

    BRIGHTLOOM_LIBRARY=build/out/libkalderon-brightloom-inference.so.1 \\
    /usr/bin/python3 bench/distributed_throughput.py --models DIR --source IMAGE \\
        --frames DIR [--workers 2] [--chunk 2] [--empty-chunks 200] [--no-pinning]

The numbers are only as quiet as the machine: on a shared machine they move
with whatever else runs.
"""
import argparse
import logging
import os
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "python"))
os.environ["PYTHONPATH"] = os.pathsep.join(
    p for p in (os.path.join(ROOT, "python"), os.environ.get("PYTHONPATH")) if p)

import brightloom  # noqa: E402
from brightloom import distributed as spread  # noqa: E402
from brightloom.distributed import scheduling, worker_engine  # noqa: E402
from brightloom.frame_folders import frame_names  # noqa: E402
from distributed import Client, LocalCluster, WorkerPlugin  # noqa: E402


class PinToCores(WorkerPlugin):
    """Pins every thread of worker number `name` (and the threads it starts
    later, which inherit it) to its share of the cores."""

    def __init__(self, shares):
        self.shares = shares

    def setup(self, worker):
        cores = self.shares[int(worker.name) % len(self.shares)]
        for thread in os.listdir("/proc/self/task"):
            os.sched_setaffinity(int(thread), cores)


def core_shares(workers):
    cores = sorted(os.sched_getaffinity(0))
    return [set(cores[i::workers]) for i in range(workers)]


def empty_chunk(stop_event, index):
    worker_engine.stop_event(stop_event).is_set()
    return index


def single_process(args, out):
    with brightloom.Engine(args.models) as engine:
        engine.swap_frames(args.source, args.frames, os.path.join(out, "warm"))
        start = time.perf_counter()
        engine.swap_frames(args.source, args.frames, os.path.join(out, "single"))
        return time.perf_counter() - start


def cluster_run(client, args, out):
    spread.swap_frames(client, args.source, args.frames, os.path.join(out, "warm2"),
                       models=args.models, chunk=1)
    start = time.perf_counter()
    spread.swap_frames(client, args.source, args.frames, os.path.join(out, "spread"),
                       models=args.models, chunk=args.chunk)
    return time.perf_counter() - start


def scheduling_cost(client, count):
    run_id = scheduling.new_run_id()
    runner = scheduling.ChunkRun(client, run_id, empty_chunk,
                                 (scheduling.stop_event_name(run_id),), list(range(count)),
                                 [1] * count)
    start = time.perf_counter()
    runner.run(lambda index: None)
    return (time.perf_counter() - start) / count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--models", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--frames", required=True)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--chunk", type=int, default=2)
    parser.add_argument("--empty-chunks", type=int, default=200)
    parser.add_argument("--no-pinning", action="store_true",
                        help="leave the workers free to run on every core")
    args = parser.parse_args()
    frames = len(frame_names(args.frames))

    with tempfile.TemporaryDirectory(prefix="bl-bench-") as out:
        single = single_process(args, out)
        print(f"one process:        {frames / single:.3f} frames/s ({single:.1f} s)")
        shares = core_shares(args.workers)
        with LocalCluster(n_workers=args.workers, processes=True, threads_per_worker=1,
                          dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                Client(cluster) as client:
            if args.no_pinning:
                shares = "not pinned"
            else:
                client.register_worker_plugin(PinToCores(shares))
            spread_time = cluster_run(client, args, out)
            print(f"{args.workers}-worker cluster:   {frames / spread_time:.3f} frames/s "
                  f"({spread_time:.1f} s, chunk {args.chunk}, cores {shares})")
            cost = scheduling_cost(client, args.empty_chunks)
            print(f"scheduling per chunk: {cost * 1000:.1f} ms "
                  f"({args.empty_chunks} empty chunks)")


if __name__ == "__main__":
    main()
