"""Frame folders spread over a cluster: the public swap_frames and
process_frames."""
import os
from dataclasses import dataclass

from ..engine import FRAME_MODES, BrightloomError, Engine
from ..frame_folders import frame_names
from . import scheduling
from .frame_tasks import WORK_PREFIX, ChunkTally, FolderRun, run_chunk
from .operations import FrameOperation, SwapOperation

@dataclass(frozen=True)
class FramesResult:
    """What a run did: frames listed, frames written (processed or passed
    through), frames passed through unchanged because their operation
    failed, and whether it was cancelled."""
    total: int
    done: int
    passed_through: int
    cancelled: bool


def swap_frames(client, source, input_dir, output_dir, *, models, enhance=False, reference=None,
                reference_position=0, reference_distance=None, chunk=32, progress=None,
                **settings):
    """Swaps the best face of source into every frame image of input_dir on
    the cluster of `client`, writing frames of the same names into output_dir,
    byte for byte what Engine.swap_frames writes. See process_frames."""
    operation = SwapOperation.of(source, reference, reference_position, reference_distance,
                                 enhance)
    return _run_folder(client, operation, input_dir, output_dir, models, chunk, progress,
                       settings)


def process_frames(client, mode, input_dir, output_dir, *, models, scale=2, blend=100.0,
                   chunk=32, progress=None, **settings):
    """Applies "enhance", "colorize" or "upscale" to every frame image of
    input_dir on the cluster of `client`.

    Every worker opens one Engine on `models` with `settings` (as Engine()
    takes them) and keeps it for later tasks; the model directory is the
    path each worker sees (a relative one is taken from each worker's working
    folder). input_dir and output_dir must be on storage every worker sees
    under the same path. The sorted frame list is cut into chunks of `chunk`
    frames, one task each; progress(done, total) is called as chunks finish
    and returning False cancels, as Ctrl-C does (then re-raised). Returns a
    FramesResult; raises BrightloomError at once when a worker cannot see
    the model directory or fails to set up, and at the end with "<n> frames
    failed to process" for frames that could not even be copied."""
    if mode not in FRAME_MODES:
        raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
    operation = FrameOperation(mode=mode, scale=int(scale), blend=float(blend))
    return _run_folder(client, operation, input_dir, output_dir, models, chunk, progress,
                       settings)


def _run_folder(client, operation, input_dir, output_dir, models, chunk, progress, settings):
    Engine._check_settings(settings, initializing=True)
    input_dir, output_dir = os.path.abspath(input_dir), os.path.abspath(output_dir)
    names = frame_names(input_dir)
    chunks = _cut_into_chunks(names, chunk)
    _prepare_output_dir(input_dir, output_dir)
    scheduling.check_workers(client, os.fspath(models))

    run_id = scheduling.new_run_id()
    run = FolderRun(run_id=run_id, input_dir=input_dir, output_dir=output_dir,
                    models=os.fspath(models), settings=tuple(settings.items()),
                    stop_event=scheduling.stop_event_name(run_id))
    tally = ChunkTally()
    runner = scheduling.ChunkRun(client, run_id, run_chunk, (run, operation), chunks,
                                   [len(c) for c in chunks], progress)
    try:
        finished = runner.run(tally.add)
    finally:
        scheduling.remove_work_folders(output_dir, f"{WORK_PREFIX}{run_id}-")
    if tally.lost:
        raise BrightloomError(f"{tally.lost} frames failed to process")
    return FramesResult(total=len(names), done=tally.written + tally.passed_through,
                        passed_through=tally.passed_through, cancelled=not finished)


def _prepare_output_dir(input_dir, output_dir):
    """Creates output_dir when needed; refuses the input folder itself, whose
    frames would be replaced while they are read."""
    os.makedirs(output_dir, exist_ok=True)
    if os.path.samefile(input_dir, output_dir):
        raise BrightloomError(f"Output dir is the input dir: {output_dir}")


def _cut_into_chunks(names, chunk):
    if chunk < 1:
        raise ValueError(f"chunk must be at least 1, not {chunk}")
    return [names[i:i + chunk] for i in range(0, len(names), chunk)]
