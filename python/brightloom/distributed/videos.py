"""Video files spread over a cluster: the public swap_video and
process_video."""
import dataclasses
import os
import shutil
import tempfile

from . import ffmpeg_tools
from ..engine import FRAME_MODES, BrightloomError, Engine
from . import scheduling, video_segments
from .frame_tasks import WORK_PREFIX
from .operations import FrameOperation, SwapOperation
from .video_tasks import SegmentRun, run_segment


def swap_video(client, source, input, output, *, models, enhance=False, reference=None,
               reference_frame=None, reference_position=0, reference_distance=None, crf=18,
               preset="medium", codec=None, chunk=250, progress=None, **settings):
    """Engine.swap_video on the cluster of `client`; see process_video.
    reference_frame N is taken from the whole input once, on this machine."""
    if reference is not None and reference_frame is not None:
        raise ValueError("give reference or reference_frame, not both")
    operation = SwapOperation.of(source, reference, reference_position, reference_distance,
                                 enhance)
    options = ffmpeg_tools.Options(output, crf, preset, codec)
    return _run_video(client, operation, input, output, options, models, chunk, progress,
                      settings, reference_frame)


def process_video(client, mode, input, output, *, models, scale=2, blend=100, crf=18,
                  preset="medium", codec=None, chunk=250, progress=None, **settings):
    """Engine.process_video on the cluster of `client`.

    The input is cut at key frames into segments of at least `chunk` frames
    (stream copy, nothing decoded), each segment is processed and encoded on
    a worker with the same codec settings, and the encoded segments are
    joined without re-encoding, with the input's sound put back. The output
    appears only when complete; a cancelled or failed run leaves none. Input,
    output and their folder must be on storage every worker sees under the
    same paths; models, settings, progress and cancellation as
    process_frames. Returns True when complete, False when cancelled."""
    if mode not in FRAME_MODES:
        raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
    if mode == "upscale" and int(scale) not in (2, 4):
        raise ValueError("scale is 2 or 4")
    operation = FrameOperation(mode=mode, scale=int(scale), blend=float(blend))
    options = ffmpeg_tools.Options(output, crf, preset, codec,
                            scale=int(scale) if mode == "upscale" else 1)
    return _run_video(client, operation, input, output, options, models, chunk, progress,
                      settings, None)


def _run_video(client, operation, input, output, options, models, chunk, progress, settings,
               reference_frame):
    Engine._check_settings(settings, initializing=True)
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, not {chunk}")
    try:
        job = _VideoRun(client, operation, input, output, options, models, settings)
        try:
            return job.run(chunk, progress, reference_frame)
        finally:
            shutil.rmtree(job.work_dir, ignore_errors=True)
    except ffmpeg_tools.VideoError as error:
        raise BrightloomError(str(error)) from None


class _VideoRun:
    """One video over the cluster, in a private folder beside the output
    that every worker sees."""

    def __init__(self, client, operation, input, output, options, models, settings):
        self.client, self.operation, self.options = client, operation, options
        self.input, self.output = os.path.abspath(input), os.path.abspath(output)
        self.models, self.settings = os.fspath(models), settings
        self.ffmpeg, self.ffprobe = ffmpeg_tools.programs()
        ffmpeg_tools.check_paths(self.input, self.output)
        self.info = ffmpeg_tools.probe(self.ffprobe, self.input)
        scheduling.check_workers(client, self.models)
        self.run_id = scheduling.new_run_id()
        self.work_dir = tempfile.mkdtemp(prefix=f"{WORK_PREFIX}{self.run_id}-",
                                         dir=os.path.dirname(self.output))

    def run(self, chunk, progress, reference_frame):
        if reference_frame is not None:
            reference = video_segments.extract_reference(self.ffmpeg, self.input,
                                                         reference_frame, self.work_dir)
            self.operation = dataclasses.replace(self.operation, reference=reference)
        counts = video_segments.cut(self.ffmpeg, self.ffprobe, self.input, self.info,
                                    self.work_dir, chunk / float(self.info.rate or 25))
        extension = os.path.splitext(self.output)[1]
        segments = SegmentRun(work_dir=self.work_dir, models=self.models,
                              settings=tuple(self.settings.items()),
                              encoding=(("crf", self.options.crf),
                                        ("preset", self.options.preset),
                                        ("codec", self.options.codec)),
                              in_extension=video_segments.segment_extension(self.info),
                              extension=extension,
                              stop_event=scheduling.stop_event_name(self.run_id))
        runner = scheduling.ChunkRun(self.client, self.run_id, run_segment,
                                     (segments, self.operation), list(range(len(counts))),
                                     counts, progress)
        if not runner.run(lambda frames: None):
            return False
        self._join(counts, extension)
        return True

    def _join(self, counts, extension):
        folder, name = os.path.split(self.output)
        handle, partial = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
        os.close(handle)
        try:
            video_segments.join(self.ffmpeg, self.info, self.options, self.input,
                                self.work_dir, counts, extension, partial)
            os.replace(partial, self.output)
        finally:
            if os.path.exists(partial):
                os.unlink(partial)
