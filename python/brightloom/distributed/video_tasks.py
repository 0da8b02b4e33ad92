"""What a worker does with one range of a video: the Engine's own video run
over those frames of the input, which writes the encoded range only when it
is complete."""
import os
from dataclasses import dataclass

from . import worker_engine


@dataclass(frozen=True)
class SegmentRun:
    work_dir: str  # the run's private folder, on storage every worker sees
    models: str
    settings: tuple  # (name, value) pairs for Engine()
    encoding: tuple  # (name, value) pairs: crf, preset, codec
    input: str  # the input video, which every worker reads under this path
    ranges: tuple  # (first frame, frame count) of each segment
    extension: str  # the output's, for the encoded segments
    stop_event: str


def output_segment(work_dir, index, extension):
    """Encoded segments take the output's container, whose time base keeps
    the frame rate exact through the join."""
    return os.path.join(work_dir, f"out_{index:05d}{extension}")


def run_segment(run, operation, index):
    """Processes segment `index`; returns its frame count, or 0 when the
    run was stopped before it was complete (and nothing was written)."""
    stop = worker_engine.stop_event(run.stop_event)
    done = 0

    def progress(frames, total):
        nonlocal done
        done = frames
        return not stop.is_set()

    with worker_engine.task_lock:
        if stop.is_set():
            return 0
        engine = worker_engine.engine_for(run.models, operation.swap, dict(run.settings))
        finished = operation.run_video(engine, run.input,
                                       output_segment(run.work_dir, index, run.extension),
                                       dict(run.encoding), progress, run.ranges[index])
    return done if finished else 0
