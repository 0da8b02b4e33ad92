"""The one Engine of a worker process, opened on the first task that needs it
and kept for every later task with the same model directory and settings,
and the source face it has analysed."""
import os
import threading

from ..engine import BrightloomError, Engine
from .allocator import keep_large_buffers

# A worker keeps one Engine and one analysed source face: chunks that a
# worker with several threads runs at once take turns on them.
task_lock = threading.Lock()

_engine = None
_engine_key = None
_swap_key = None


def worker_address():
    """This worker's address, or the process when it is not a worker."""
    from distributed import get_worker
    try:
        return get_worker().address
    except ValueError:
        return f"process {os.getpid()}"


def model_dir_problem(models, dask_worker=None):
    """The message for a model directory this worker cannot see, else None.
    Run by Client.run on every worker before a job starts."""
    if os.path.isdir(models):
        return None
    address = dask_worker.address if dask_worker is not None else worker_address()
    return f"Model dir not found on worker {address}: {models}"


def engine_for(models, swap, settings):
    """The process's Engine for this model directory and these settings
    (able to swap when `swap`), opened when the last task used other ones
    (or none)."""
    global _engine, _engine_key, _swap_key
    problem = model_dir_problem(models)
    if problem:
        raise BrightloomError(problem)
    key = (models, tuple(sorted((name, repr(value)) for name, value in settings.items())))
    # An engine that can swap does everything else as well: a worker that
    # alternates between kinds of job keeps it.
    if _engine is not None and _engine_key[0] == key and (_engine_key[1] or not swap):
        return _engine
    if _engine is not None:
        _engine.close()
        _engine = _engine_key = _swap_key = None
    keep_large_buffers()
    try:
        _engine = Engine(models, swap=swap, **settings)
    except BrightloomError as error:
        raise BrightloomError(f"worker {worker_address()}: {error.message}") from None
    _engine_key = (key, swap)
    return _engine


def prepare_swap(engine, source, reference, reference_position, reference_distance):
    """Analyses the source (and reference) face once per worker: again only
    when a task asks for other ones."""
    global _swap_key
    key = (source, reference, reference_position, reference_distance)
    if _swap_key == key:
        return
    _swap_key = None
    engine.video_swap_init(source, reference=reference, reference_position=reference_position,
                           reference_distance=reference_distance)
    _swap_key = key


def forget_swap():
    """The next task analyses its faces again."""
    global _swap_key
    _swap_key = None


def stop_event(name):
    """The run's stop event, as the tasks of a run check it."""
    from distributed import Event
    return Event(name)
