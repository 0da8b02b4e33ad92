"""The client's side of a run: checks the workers, submits one task per
chunk, reports progress as tasks finish, and stops the run on a failure, a
cancelling callback or Ctrl-C."""
import glob
import os
import shutil
import uuid

from ..engine import BrightloomError
from . import worker_engine


def new_run_id():
    return uuid.uuid4().hex[:12]


def stop_event_name(run_id):
    """The distributed.Event that tells the run's tasks to stop."""
    return f"brightloom-stop-{run_id}"


def check_workers(client, models):
    """Fails at once, naming the workers, when some worker cannot see the
    model directory (a worker that joins later fails its first task)."""
    answers = client.run(worker_engine.model_dir_problem, models)
    problems = [message for _, message in sorted(answers.items()) if message]
    if problems:
        raise BrightloomError("; ".join(problems))


class ChunkRun:
    """Runs `task(*arguments, chunk)` for every chunk on the cluster; sizes
    are the chunks' frame counts.

    progress(done, total) is called as chunks finish, done counting the
    frames of finished chunks; returning False cancels. Tasks check the
    run's stop event before each frame, so a stop lets every running task
    finish its current frame, and the tasks not started yet end at once;
    nothing is written after run() returns."""

    def __init__(self, client, run_id, task, arguments, chunks, sizes, progress=None):
        self.client = client
        self.run_id = run_id
        self.task = task
        self.arguments = arguments
        self.chunks = chunks
        self.sizes = sizes
        self.progress = progress
        self.cancelled = False

    def run(self, on_result):
        """Calls on_result(result) for every finished chunk; returns False
        when cancelled, True when every chunk ran."""
        from distributed import Event, as_completed
        stop = Event(stop_event_name(self.run_id), client=self.client)
        futures = [self.client.submit(self.task, *self.arguments, chunk, pure=False,
                                      key=f"brightloom-chunk-{self.run_id}-{i}")
                   for i, chunk in enumerate(self.chunks)]
        sizes = dict(zip((f.key for f in futures), self.sizes))
        total = sum(sizes.values())
        done = 0
        finished = set()
        try:
            for future in as_completed(futures):
                on_result(future.result())
                finished.add(future.key)
                done += sizes[future.key]
                if self.progress is not None and self.progress(done, total) is False:
                    self.cancelled = True
                    break
        except BaseException:
            self._stop(stop, futures, finished, on_result=None)
            raise
        if self.cancelled:
            self._stop(stop, futures, finished, on_result)
        return not self.cancelled

    def _stop(self, stop, futures, finished, on_result):
        from distributed import wait
        stop.set()
        try:
            wait(futures)
        except BaseException:
            # A second Ctrl-C: give up waiting for the current frames.
            self.client.cancel(futures)
            raise
        finally:
            stop.clear()
        if on_result is None:
            return
        for future in futures:
            if future.key not in finished and future.status == "finished":
                on_result(future.result())


def remove_work_folders(output_dir, prefix):
    """Private folders left by tasks whose worker died."""
    for folder in glob.glob(os.path.join(glob.escape(output_dir), glob.escape(prefix) + "*")):
        shutil.rmtree(folder, ignore_errors=True)
