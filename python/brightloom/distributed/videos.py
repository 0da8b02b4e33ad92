"""Video files spread over a cluster: the public swap_video and
process_video."""
import os
import shutil
import tempfile

from .. import video
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
    options = video.Options(output, crf, preset, codec)
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
    options = video.Options(output, crf, preset, codec,
                            scale=int(scale) if mode == "upscale" else 1)
    return _run_video(client, operation, input, output, options, models, chunk, progress,
                      settings, None)


def _run_video(client, operation, input, output, options, models, chunk, progress, settings,
               reference_frame):
    Engine._check_settings(settings, initializing=True)
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, not {chunk}")
    input, output = os.path.abspath(input), os.path.abspath(output)
    try:
        ffmpeg, ffprobe = video.programs()
        video.check_paths(input, output)
        info = video.probe(ffprobe, input)
        scheduling.check_workers(client, os.fspath(models))
        run_id = scheduling.new_run_id()
        work_dir = tempfile.mkdtemp(prefix=f"{WORK_PREFIX}{run_id}-",
                                    dir=os.path.dirname(output))
        try:
            return _segments_run(client, operation, input, output, options, models, chunk,
                                 progress, settings, reference_frame, info, run_id, work_dir,
                                 ffmpeg, ffprobe)
        finally:
            shutil.rmtree(work_dir, ignore_errors=True)
    except video.VideoError as error:
        raise BrightloomError(str(error)) from None


def _segments_run(client, operation, input, output, options, models, chunk, progress, settings,
                  reference_frame, info, run_id, work_dir, ffmpeg, ffprobe):
    if reference_frame is not None:
        reference = video_segments.extract_reference(ffmpeg, input, reference_frame, work_dir)
        operation = SwapOperation.of(operation.source, reference, operation.reference_position,
                                     operation.reference_distance, operation.enhance)
    rate = info.rate or 25
    counts = video_segments.cut(ffmpeg, ffprobe, input, work_dir, chunk / float(rate))
    run = SegmentRun(work_dir=work_dir, models=os.fspath(models),
                     settings=tuple(settings.items()),
                     encoding=(("crf", options.crf), ("preset", options.preset),
                               ("codec", options.codec)),
                     extension=os.path.splitext(output)[1],
                     stop_event=scheduling.stop_event_name(run_id))
    runner = scheduling.ChunkRun(client, run_id, run_segment, (run, operation),
                                 list(range(len(counts))), counts, progress)
    if not runner.run(lambda frames: None):
        return False
    folder, name = os.path.split(output)
    handle, partial = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder)
    os.close(handle)
    try:
        video_segments.join(ffmpeg, info, options, input, work_dir, counts,
                             os.path.splitext(output)[1], partial)
        os.replace(partial, output)
    finally:
        if os.path.exists(partial):
            os.unlink(partial)
    return True
