"""Video files spread over a cluster: the public swap_video and
process_video."""
import dataclasses
import os
import shutil
import tempfile

from .. import video as _video
from .._native import load
from .._structs import VIDEO_SWAP
from ..engine import FRAME_MODES, Engine
from . import scheduling
from .frame_tasks import WORK_PREFIX
from .operations import FrameOperation, SwapOperation
from .video_tasks import SegmentRun, output_segment, run_segment

# Segments last `chunk` frames at the stated rate, or at this one.
FALLBACK_RATE = 25


def swap_video(client, source, input, output, *, models, enhance=False, reference=None,
               reference_frame=None, reference_position=0, reference_distance=None, crf=18,
               preset="medium", codec=None, chunk=250, progress=None, **settings):
    """Engine.swap_video on the cluster of `client`; see process_video.
    reference_frame N is taken from the whole input once, on this machine."""
    if reference is not None and reference_frame is not None:
        raise ValueError("give reference or reference_frame, not both")
    operation = SwapOperation.of(source, reference, reference_position, reference_distance,
                                 enhance)
    encoding = dict(crf=crf, preset=preset, codec=codec)
    return _run_video(client, operation, VIDEO_SWAP, 1, input, output, encoding, models, chunk,
                      progress, settings, reference_frame)


def process_video(client, mode, input, output, *, models, scale=2, blend=100, crf=18,
                  preset="medium", codec=None, chunk=250, progress=None, **settings):
    """Engine.process_video on the cluster of `client`.

    The input's frames are split at key frames into ranges of at least
    `chunk` frames' time (nothing is decoded or copied for that), each range
    is read from the input, processed and encoded on a worker with the same
    codec settings, and the encoded ranges are joined without re-encoding,
    with the input's sound put back. The output appears only when complete;
    a cancelled or failed run leaves none. Input, output and their folder
    must be on storage every worker sees under the same paths (every worker
    reads the input itself); models, settings, progress and cancellation as
    process_frames. Returns True when complete, False when cancelled."""
    if mode not in FRAME_MODES:
        raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
    if mode == "upscale" and int(scale) not in (2, 4):
        raise ValueError("scale is 2 or 4")
    operation = FrameOperation(mode=mode, scale=int(scale), blend=float(blend))
    encoding = dict(crf=crf, preset=preset, codec=codec)
    return _run_video(client, operation, FRAME_MODES[mode], int(scale), input, output, encoding,
                      models, chunk, progress, settings, None)


def _run_video(client, operation, code, scale, input, output, encoding, models, chunk, progress,
               settings, reference_frame):
    Engine._check_settings(settings, initializing=True)
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, not {chunk}")
    job = _VideoRun(client, operation, code, scale, input, output, encoding, models, settings)
    try:
        return job.run(chunk, progress, reference_frame)
    finally:
        shutil.rmtree(job.work_dir, ignore_errors=True)


class _VideoRun:
    """One video over the cluster, in a private folder beside the output
    that every worker sees."""

    def __init__(self, client, operation, code, scale, input, output, encoding, models, settings):
        self.lib = load()
        self.client, self.operation, self.encoding = client, operation, encoding
        self.input, self.output = os.path.abspath(input), os.path.abspath(output)
        self.models, self.settings = os.fspath(models), settings
        # The library's own refusals of a one-machine run, before any worker is asked.
        self.params = _video.params(self.lib, **encoding)
        options = self.lib.brightloom_default_options()
        options.upscale_factor = scale
        _video.check_file(self.lib, code, self.input, self.output, options, self.params)
        self.info = _video.probe(self.lib, self.input)
        scheduling.check_workers(client, self.models)
        self.run_id = scheduling.new_run_id()
        self.work_dir = tempfile.mkdtemp(prefix=f"{WORK_PREFIX}{self.run_id}-",
                                         dir=os.path.dirname(self.output))

    def segment_seconds(self, chunk):
        """`chunk` frames' time, in whole microseconds."""
        rate = (self.info.rate_num / self.info.rate_den if self.info.rate_den > 0
                and self.info.rate_num > 0 else FALLBACK_RATE)
        return float(f"{chunk / rate:.6f}")

    def run(self, chunk, progress, reference_frame):
        if reference_frame is not None:
            reference = os.path.join(self.work_dir, "reference.png")
            _video.save_frame(self.lib, self.input, reference_frame, reference)
            self.operation = dataclasses.replace(self.operation, reference=reference)
        ranges = _video.segments(self.lib, self.input, self.segment_seconds(chunk))
        extension = os.path.splitext(self.output)[1]
        segments = SegmentRun(work_dir=self.work_dir, models=self.models,
                              settings=tuple(self.settings.items()),
                              encoding=tuple(self.encoding.items()), input=self.input,
                              ranges=tuple(ranges), extension=extension,
                              stop_event=scheduling.stop_event_name(self.run_id))
        counts = [count for _, count in ranges]
        runner = scheduling.ChunkRun(self.client, self.run_id, run_segment,
                                     (segments, self.operation), list(range(len(ranges))),
                                     counts, progress)
        if not runner.run(lambda frames: None):
            return False
        _video.join(self.lib, [output_segment(self.work_dir, i, extension)
                               for i in range(len(ranges))],
                    self.input, self.output, self.params)
        return True
