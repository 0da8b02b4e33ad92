"""What a worker does with one chunk of frames: each frame is processed into
a private folder beside the output and renamed into place, so that a task
rerun after its worker died never leaves a half-written frame."""
import os
import shutil
import tempfile
from dataclasses import dataclass

from ..engine import BrightloomError
from . import worker_engine

# Private folders of a run inside its output folder: a rename from there is
# atomic (same file system), and the library's frame listing skips folders.
WORK_PREFIX = ".brightloom-"


@dataclass(frozen=True)
class FolderRun:
    run_id: str
    input_dir: str
    output_dir: str
    models: str
    settings: tuple  # (name, value) pairs for Engine()
    stop_event: str  # name of the run's distributed.Event


@dataclass
class ChunkTally:
    written: int = 0
    passed_through: int = 0
    lost: int = 0

    @property
    def done(self):
        return self.written + self.passed_through + self.lost

    def add(self, other):
        self.written += other.written
        self.passed_through += other.passed_through
        self.lost += other.lost


def run_chunk(run, operation, names):
    """Processes the named frames of run.input_dir into run.output_dir until
    the run's stop event is set; returns the ChunkTally."""
    stop = worker_engine.stop_event(run.stop_event)
    tally = ChunkTally()
    with worker_engine.task_lock:
        if stop.is_set():
            return tally
        engine = worker_engine.engine_for(run.models, operation.swap, dict(run.settings))
        operation.prepare(engine)
        work = tempfile.mkdtemp(prefix=f"{WORK_PREFIX}{run.run_id}-", dir=run.output_dir)
        try:
            for name in names:
                if stop.is_set():
                    break
                outcome = _frame(engine, run, operation, name, work)
                setattr(tally, outcome, getattr(tally, outcome) + 1)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    return tally


def _frame(engine, run, operation, name, work):
    input = os.path.join(run.input_dir, name)
    output = os.path.join(run.output_dir, name)
    temporary = os.path.join(work, name)
    try:
        operation.apply(engine, input, temporary)
        os.replace(temporary, output)
        return "written"
    except BrightloomError:
        pass
    return "passed_through" if _pass_through(engine, operation, input, output, work, name) \
        else "lost"


def _pass_through(engine, operation, input, output, work, name):
    """The library's own directory run over this one frame, which copies a
    frame it cannot process unchanged (re-encoded for the output's name,
    and for a swap restored when asked), exactly as the whole-folder run
    would have."""
    alone_in = os.path.join(work, "alone-in")
    alone_out = os.path.join(work, "alone-out")
    for folder in (alone_in, alone_out):
        shutil.rmtree(folder, ignore_errors=True)
        os.mkdir(folder)
    try:
        shutil.copyfile(input, os.path.join(alone_in, name))
        operation.run_folder(engine, alone_in, alone_out)
        os.replace(os.path.join(alone_out, name), output)
    except (OSError, BrightloomError):
        return False
    return True
