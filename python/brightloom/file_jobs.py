"""The methods that work on files, folders and video files on the Engine's
handle: one-shot file operations, directory jobs with progress and
cancellation, and video files."""
import ctypes
import os
import threading

from . import video as _video
from ._structs import VIDEO_SWAP as _VIDEO_SWAP
from ._structs import VideoProgressFunction
from .errors import Status
from . import models as _models
from . import options as _options
from .images import Picture, encoded_path
from .options import COMMON as _COMMON
from .errors import BrightloomError, StatusError

# The modes as brightloom_video_operation numbers them.
FRAME_MODES = {"enhance": 0, "colorize": 1, "upscale": 2}
_STATUS_OK, _STATUS_CANCELLED = int(Status.OK), int(Status.CANCELLED)
# The options the video jobs read.
_SWAP_OPTIONS = _COMMON + ("enhance", "reference_position", "reference_distance")
_FRAME_OPTIONS = _COMMON + ("scale", "blend")
# What a swap over a frame folder reads: every frame is done on its own, as
# the folder's frames may come in any order and a cluster cuts them into
# chunks that must come out the same as the whole run.
_FOLDER_SWAP_OPTIONS = _COMMON + ("enhance", "smoothing")
_FOLDER_SWAP_SMOOTHING = 0.0
_VIDEO_NOT_INITIALIZED = "Video swap not initialized — call video_swap_init() first"
_NO_SWAP = "Face swap is not available — this Engine was opened with swap=False"


class _no_picture:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        pass


def _path(value):
    return encoded_path(value)


def _file(value):
    """A path checked as the library takes it, as text: the image readers
    take bytes for an encoded image, not for a file name."""
    return os.fsdecode(_path(value))


def _scale(value):
    return _options.int32("scale", value)


def _blend(value):
    return _options.checked_setting("blend", value)


# The options of the file forms beyond the Engine's settings.
_FILE_OPTIONS = _COMMON + ("scale", "blend")


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
    """Mixed into Engine, which provides _handle, _options, _run and
    swap_session."""

    _active_runner = None
    _video_session = None

    # ----------------------------------------------------------- one-shots --

    def _swap_file(self, source, target, output):
        self._refuse_without_swap()
        self._file_run(self._lib.brightloom_swap_image, (source, target), output)

    def blend(self, source, target, output):
        """As swap, with a softer mask edge, from file to file."""
        self._refuse_without_swap()
        self._file_run(self._lib.brightloom_swap_image, (source, target), output,
                       soft_edge=True)

    def _enhance_file(self, input, output):
        self._file_run(self._lib.brightloom_enhance_image, (input,), output)

    def _colorize_file(self, input, output, blend=100.0):
        self._file_run(self._lib.brightloom_colorize_image, (input,), output,
                       blend=_blend(blend))

    def _upscale_file(self, input, output, scale=2, blend=100.0):
        self._file_run(self._lib.brightloom_upscale_image, (input,), output,
                       scale=_scale(scale), blend=_blend(blend))

    def _file_run(self, function, inputs, output, **keywords):
        """function on the image files `inputs` with the Engine's settings,
        written to the file output."""
        self._refuse_during_job()
        paths = [_file(value) for value in (*inputs, output)]
        # A closed Engine says so before its inputs are read.
        with self._handle.use():
            pictures = [Picture(self._lib, path) for path in paths[:-1]]
        try:
            settings = self._options(_FILE_OPTIONS, keywords)
            self._run(function, pictures, settings, paths[-1])
        finally:
            for picture in pictures:
                picture.close()

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
        self._refuse_during_job()
        with self.swap_session(_file(source), _file_or_none(reference),
                               reference_position=_options.int32("reference_position",
                                                                 reference_position),
                               reference_distance=reference_distance) as session:
            options = self._options(_FOLDER_SWAP_OPTIONS, {
                "enhance": enhance, "smoothing": _FOLDER_SWAP_SMOOTHING})
            with session._handle.use() as pointer:
                return self._run_folder(_VIDEO_SWAP, input_dir, output_dir, options, progress,
                                        poll_interval, pointer)

    # ------------------------------------------------- frame-by-frame swap --

    def video_swap_init(self, source, *, reference=None, reference_position=0,
                        reference_distance=None):
        """Analyses the best face of source once for the video_swap_frame
        calls that follow; with reference, only faces resembling face number
        reference_position of that image are swapped. Leaves nothing set up
        when it fails."""
        self.video_swap_cleanup()
        self._video_session = self.swap_session(
            _file(source), _file_or_none(reference),
            reference_position=_options.int32("reference_position", reference_position),
            reference_distance=reference_distance)

    def video_swap_frame(self, input, output, *, enhance=False):
        """Swaps the face analysed by video_swap_init into one frame file,
        the frame on its own (as a folder run does it); enhance restores the
        faces of the swapped frame too."""
        session = self._video_session
        if session is None:
            raise BrightloomError(_VIDEO_NOT_INITIALIZED)
        session.swap(_file(input), output=_file(output), enhance=enhance,
                     smoothing=_FOLDER_SWAP_SMOOTHING)

    def video_swap_cleanup(self):
        """Releases the face analysed by video_swap_init."""
        session, self._video_session = self._video_session, None
        if session is not None:
            session.close()

    def process_frames(self, mode, input_dir, output_dir, *, scale=2, blend=100.0,
                       progress=None, poll_interval=0.1):
        """Applies "enhance", "colorize" or "upscale" to every frame image of
        input_dir; progress and result as swap_frames."""
        if mode not in FRAME_MODES:
            raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
        self._refuse_during_job()
        options = self._options(_FRAME_OPTIONS, {"scale": _scale(scale), "blend": _blend(blend)})
        return self._run_folder(FRAME_MODES[mode], input_dir, output_dir, options, progress,
                                poll_interval)

    def _run_folder(self, operation, input_dir, output_dir, options, progress, poll_interval,
                    session=None):
        """brightloom_frames_dir_run on the Engine's handle (with `session`
        for a swap), output_dir created first."""
        job = _FramesJob(self._lib)
        job.params.session = session
        os.makedirs(output_dir, exist_ok=True)
        with self._handle.use() as engine:
            return self._run_job(job, progress, poll_interval, self._lib.brightloom_frames_dir_run,
                                 engine, operation, _path(input_dir), _path(output_dir),
                                 ctypes.byref(options), ctypes.byref(job.params))

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
        if mode == "upscale" and _scale(scale) not in _models.option_choices("upscale_factor"):
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

    def _run_job(self, runner, progress, poll_interval, function, *args):
        # The job runs on a worker thread so that this thread stays free to
        # report progress and to turn Ctrl-C into a cancellation. Its
        # message is the worker thread's.
        outcome = {}

        def work():
            status = function(*args)
            text = self._lib.brightloom_last_error()
            outcome["message"] = text.decode("utf-8", "replace") if text else ""
            outcome["status"] = status

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
        status = outcome.get("status", int(Status.INTERNAL))
        if status not in (_STATUS_OK, _STATUS_CANCELLED):
            raise StatusError(Status(status), outcome.get("message", ""))
        return status == _STATUS_OK

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

    def _refuse_without_swap(self):
        # Said before the files are read, as a swap cannot run whatever they
        # hold.
        if not self._swap:
            raise StatusError(Status.MODEL_MISSING, _NO_SWAP)

    def _refuse_during_job(self):
        # A progress callback runs on the thread that waits for the job, so
        # it could otherwise start a second job the first one waits behind.
        if self._active_runner is not None:
            raise BrightloomError("a directory job is running; only cancel() may be called")


def _file_or_none(value):
    return None if value is None else _file(value)
