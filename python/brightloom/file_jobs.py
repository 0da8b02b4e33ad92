"""The methods that work on files, folders and video files through the
library's process-wide engine: one-shot file operations, directory jobs with
progress and cancellation, and video files."""
import ctypes
import os
import threading

from . import video as _video
from ._structs import VIDEO_SWAP as _VIDEO_SWAP
from ._structs import VideoProgressFunction
from .errors import Status
from . import options as _options
from .images import Picture, encoded_path
from .options import COMMON as _COMMON
from ._process_engine import call_lock as _call_lock
from ._process_engine import error_text
from .errors import BrightloomError, StatusError

# The modes as brightloom_video_operation numbers them.
FRAME_MODES = {"enhance": 0, "colorize": 1, "upscale": 2}
_STATUS_OK, _STATUS_CANCELLED = int(Status.OK), int(Status.CANCELLED)
# The options the video jobs read.
_SWAP_OPTIONS = _COMMON + ("enhance", "reference_position", "reference_distance")
_FRAME_OPTIONS = _COMMON + ("scale", "blend")


class _no_picture:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        pass


def _path(value):
    return encoded_path(value)


def _scale(value):
    return _options.int32("scale", value)


def _blend(value):
    return _options.checked_setting("blend", value)


class _Runner:
    def __init__(self, lib, prefix):
        self.progress = getattr(lib, prefix + "_progress")
        self.total = getattr(lib, prefix + "_total")
        self.cancel = getattr(lib, prefix + "_cancel")


class _FramesJob:
    """A directory run on the engine (brightloom_frames_dir_run): the frames
    done and listed as its callback last reported them, and its cancel flag."""

    def __init__(self, lib):
        self._flag = ctypes.c_int32(0)
        self._done = self._total = 0
        self._callback = VideoProgressFunction(self._report)
        self.params = lib.brightloom_frames_default_params()
        self.params.progress = self._callback
        self.params.cancel = ctypes.pointer(self._flag)

    def _report(self, user_data, done, total):
        self._done, self._total = done, total

    def progress(self):
        return self._done

    def total(self):
        return self._total

    def cancel(self):
        self._flag.value = 1


class FileJobs:
    """Mixed into Engine, which provides _process (a ProcessEngine)."""

    _active_runner = None

    # ----------------------------------------------------------- one-shots --

    def _swap_file(self, source, target, output):
        self._call("face_swap", _path(source), _path(target), _path(output))

    def blend(self, source, target, output):
        """As swap, with a softer mask edge, from file to file."""
        self._call("face_blend", _path(source), _path(target), _path(output))

    def _enhance_file(self, input, output):
        self._call("face_enhance", _path(input), _path(output))

    def _colorize_file(self, input, output, blend=100.0):
        self._call("frame_colorize", _path(input), _path(output), _blend(blend))

    def _upscale_file(self, input, output, scale=2, blend=100.0):
        self._call("frame_upscale", _path(input), _path(output), _scale(scale), _blend(blend))

    # ------------------------------------------------------ directory jobs --

    def swap_frames(self, source, input_dir, output_dir, *, enhance=False, reference=None,
                    reference_position=0, reference_distance=None, progress=None,
                    poll_interval=0.1):
        """Swaps the best face of source into every frame image of input_dir,
        writing frames of the same names into output_dir (created if needed).
        With reference, only faces resembling face number reference_position
        of that image are swapped. progress(done, total) is called on this
        thread while the job runs; returning False cancels. Returns True when
        every frame was processed, False when cancelled."""
        with _call_lock:
            self.video_swap_init(source, reference=reference,
                                 reference_position=reference_position,
                                 reference_distance=reference_distance)
            lib = self._legacy()
            try:
                os.makedirs(output_dir, exist_ok=True)
                return self._run_job(_Runner(lib, "face_swap_video"), progress, poll_interval,
                                     lib.face_swap_video_dir, _path(input_dir),
                                     _path(output_dir), 1 if enhance else 0)
            finally:
                lib.face_swap_video_cleanup()

    # ------------------------------------------------- frame-by-frame swap --

    def video_swap_init(self, source, *, reference=None, reference_position=0,
                        reference_distance=None):
        """Analyses the best face of source once for the video_swap_frame
        calls that follow; with reference, only faces resembling face number
        reference_position of that image are swapped. Leaves nothing set up
        when it fails."""
        with _call_lock:
            self._call("face_swap_video_init", _path(source))
            lib = self._legacy()
            try:
                if reference_distance is not None:
                    lib.face_swap_video_set_reference_distance(float(reference_distance))
                if reference is not None:
                    self._call("face_swap_video_set_reference", _path(reference),
                               _options.int32("reference_position", reference_position))
            except BaseException:
                lib.face_swap_video_cleanup()
                raise

    def video_swap_frame(self, input, output):
        """Swaps the face analysed by video_swap_init into one frame file."""
        self._call("face_swap_video_frame", _path(input), _path(output))

    def video_swap_cleanup(self):
        """Releases the face analysed by video_swap_init."""
        with _call_lock:
            self._legacy().face_swap_video_cleanup()

    def process_frames(self, mode, input_dir, output_dir, *, scale=2, blend=100.0,
                       progress=None, poll_interval=0.1):
        """Applies "enhance", "colorize" or "upscale" to every frame image of
        input_dir; progress and result as swap_frames."""
        if mode not in FRAME_MODES:
            raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
        if self._active_runner is not None:
            raise BrightloomError("a directory job is running; only cancel() may be called")
        options = self._options(_FRAME_OPTIONS, {"scale": _scale(scale), "blend": _blend(blend)})
        job = _FramesJob(self._lib)
        os.makedirs(output_dir, exist_ok=True)
        with self._handle.use() as engine:
            return self._run_job(job, progress, poll_interval, self._lib.brightloom_frames_dir_run,
                                 engine, FRAME_MODES[mode], _path(input_dir), _path(output_dir),
                                 ctypes.byref(options), ctypes.byref(job.params), on_engine=True)

    # ---------------------------------------------------------- video files --

    def swap_video(self, source, input, output, enhance=False, reference=None,
                   reference_frame=None, reference_position=0, reference_distance=None, crf=18,
                   preset="medium", codec=None, progress=None, smoothing=None, frame_range=None):
        """Swaps the best face of source into every frame of the video file
        input and writes the video file output (.mp4, .m4v, .mov, .mkv or
        .webm), keeping frame rate, timestamps, rotation and sound. With
        reference (an image) or reference_frame (a frame number of input),
        only faces resembling face number reference_position there are
        swapped. crf, preset and codec ("libx264", "libx265", "libvpx-vp9";
        VP9 for .webm) set the encoding. progress(done, total) is called after
        every frame (total is None when the input does not tell); returning
        False cancels. smoothing (0 ... 1, default 0.5; 0: every frame on
        its own) steadies the faces from frame to frame. frame_range (first
        frame, frame count; count 0: to the end) takes only those frames of
        input, without its sound, for a video spread over several machines
        (their encoded ranges are joined with the sound). Returns True when
        complete, False when cancelled; a cancelled or failed run leaves no
        output."""
        if reference is not None and reference_frame is not None:
            raise ValueError("give reference or reference_frame, not both")
        keywords = {"enhance": enhance,
                    "reference_position": max(0, _options.int32("reference_position",
                                                                reference_position))}
        if reference_distance is not None:
            keywords["reference_distance"] = reference_distance
        if smoothing is not None:
            keywords["smoothing"] = smoothing
        options = self._options(_SWAP_OPTIONS + ("smoothing",), keywords)
        params = _video.params(self._lib, crf, preset, codec, reference_frame, frame_range)
        with Picture(self._lib, source) as face:
            with (Picture(self._lib, reference) if reference is not None
                  else _no_picture()) as ref:
                return self._run_video(_VIDEO_SWAP, input, output, options, params, progress,
                                       face.ref, ref.ref if ref is not None else None)

    def process_video(self, mode, input, output, scale=2, blend=100, crf=18, preset="medium",
                      codec=None, progress=None, smoothing=None, frame_range=None):
        """Applies "enhance", "colorize" or "upscale" (by scale, 2 or 4) to
        every frame of the video file input; blend is the share of the
        processed frame in percent (colorize, upscale). Encoding, progress,
        smoothing (enhance), frame_range and result as swap_video."""
        if mode not in FRAME_MODES:
            raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
        if mode == "upscale" and _scale(scale) not in (2, 4):
            raise ValueError("scale is 2 or 4")
        keywords = {"scale": _scale(scale), "blend": float(blend)}
        if smoothing is not None:
            keywords["smoothing"] = smoothing
        options = self._options(_FRAME_OPTIONS + ("smoothing",), keywords)
        params = _video.params(self._lib, crf, preset, codec, frame_range=frame_range)
        return self._run_video(FRAME_MODES[mode], input, output, options, params, progress)

    def _run_video(self, operation, input, output, options, params, progress, *images):
        _video.check_file(self._lib, operation, input, output, options, params)
        job = _video.Job(self._lib, params, progress)
        with self._handle.use() as engine:
            self._active_runner = job
            try:
                return _video.run(self._lib, job, operation, engine, input, output, options,
                                  *images)
            finally:
                self._active_runner = None

    def cancel(self):
        """Asks the running directory or video job to stop after its current
        frame. Safe from any thread; does nothing when no job runs."""
        runner = self._active_runner
        if runner is not None:
            runner.cancel()

    def _run_job(self, runner, progress, poll_interval, function, *args, on_engine=False):
        # The job runs on a worker thread so that this thread stays free to
        # report progress and to turn Ctrl-C into a cancellation. A run on
        # the engine answers a status, and its message is the worker
        # thread's; the original functions answer 0, 1 (cancelled) or -1.
        outcome = {}

        def work():
            rc = function(*args)
            if on_engine:
                text = self._lib.brightloom_last_error()
                outcome["message"] = text.decode("utf-8", "replace") if text else ""
                outcome["status"] = rc
                rc = {_STATUS_OK: 0, _STATUS_CANCELLED: 1}.get(rc, -1)
            outcome["rc"] = rc

        worker = threading.Thread(target=work, name="brightloom-job", daemon=True)
        self._active_runner = runner
        try:
            worker.start()
            try:
                self._poll(worker, runner, progress, poll_interval)
            except BaseException:
                runner.cancel()
                worker.join()
                raise
        finally:
            self._active_runner = None
        if progress is not None:
            progress(runner.progress(), runner.total())
        rc = outcome.get("rc", -1)
        if rc == -1 and on_engine:
            raise StatusError(Status(outcome.get("status", Status.INTERNAL)),
                              outcome.get("message", ""))
        if rc == -1:
            raise BrightloomError(error_text(self._lib))
        return rc == 0

    @staticmethod
    def _poll(worker, runner, progress, poll_interval):
        cancelled = False
        while worker.is_alive():
            worker.join(poll_interval)
            if progress is None or cancelled or not worker.is_alive():
                continue
            if progress(runner.progress(), runner.total()) is False:
                runner.cancel()
                cancelled = True

    # ------------------------------------------------------------- helpers --

    def _call(self, name, *args):
        with _call_lock:
            lib = self._legacy()
            if getattr(lib, name)(*args) != 0:
                raise BrightloomError(error_text(lib))

    def _legacy(self):
        """The library, its process-wide engine ready; under _call_lock."""
        lib = self._process.library()
        # The lock is re-entrant, so a progress callback could otherwise
        # reach the library while the job it reports on is still running.
        if self._active_runner is not None:
            raise BrightloomError("a directory job is running; only cancel() may be called")
        return lib
