"""The engine: initialization with settings as keyword arguments, the
one-shot operations, and directory and video jobs with progress and
cancellation."""
import os
import threading

from . import video as _video
from ._native import load

DETECTORS = ("scrfd", "yoloface", "yunet")
SWAPPERS = ("uniface_256", "inswapper_128", "inswapper_128_fp16", "blendswap_256",
            "simswap_256")
ENHANCERS = ("gfpgan_1.4", "gfpgan_1.3", "gfpgan_1.2", "restoreformer_plus_plus")
FRAME_MODES = {"enhance": 0, "colorize": 1, "upscale": 2}

# Model names are read when the engine initializes; numbers by every call.
_NAME_SETTINGS = {"detector": DETECTORS, "swapper": SWAPPERS, "enhancer": ENHANCERS}
_NUMBER_SETTINGS = ("detector_score", "mask_blur", "enhancer_blend")
# The library keeps its settings across engines; every Engine starts from
# these unless told otherwise, so one Engine's choices never leak into the next.
DEFAULTS = {"detector": "scrfd", "swapper": "uniface_256", "enhancer": "gfpgan_1.4",
            "detector_score": 0.3, "mask_blur": 0.3, "enhancer_blend": 0.8,
            "mask_padding": (0, 0, 0, 0)}

# The library allows one caller at a time; this lock holds every call except
# the progress, total and cancel functions of a running directory job.
_call_lock = threading.RLock()
_open_engine = None


class BrightloomError(RuntimeError):
    """A library call failed; `message` is brightloom_get_error()'s text."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


def _path(value):
    return os.fsencode(value)


class _Runner:
    def __init__(self, lib, prefix):
        self.progress = getattr(lib, prefix + "_progress")
        self.total = getattr(lib, prefix + "_total")
        self.cancel = getattr(lib, prefix + "_cancel")


class Engine:
    """The library's one engine per process, initialized on a model directory.

    swap=False skips the recognizer and swapper (face swapping is then
    refused). Settings are keyword arguments: detector, swapper, enhancer
    (model names), detector_score, mask_blur, enhancer_blend (floats) and
    mask_padding (top, right, bottom, left percentages); those not given take
    their defaults (DEFAULTS). Failures raise
    BrightloomError with the library's message."""

    def __init__(self, model_dir, *, swap=True, library=None, **settings):
        global _open_engine
        self._active_runner = None
        self._lib = load(library)
        self._check_settings(settings, initializing=True)
        settings = {**DEFAULTS, **settings}
        with _call_lock:
            if _open_engine is not None:
                raise BrightloomError("an Engine is already open in this process; close it first")
            for name in _NAME_SETTINGS:
                if name in settings:
                    getattr(self._lib, "brightloom_set_" + name)(settings[name].encode())
            self._apply_numbers(settings)
            rc = self._lib.brightloom_init_lite(_path(model_dir), 1 if swap else 0)
            if rc != 0:
                raise BrightloomError(self._error_text())
            _open_engine = self

    # ------------------------------------------------------------ settings --

    def configure(self, **settings):
        """Changes numeric settings; they apply from the next call on."""
        self._check_settings(settings, initializing=False)
        with _call_lock:
            self._check_callable()
            self._apply_numbers(settings)

    @staticmethod
    def _check_settings(settings, initializing):
        for name, value in settings.items():
            if name in _NAME_SETTINGS:
                if not initializing:
                    raise ValueError(f"{name} is read at initialization: pass it to Engine()")
                if value not in _NAME_SETTINGS[name]:
                    raise ValueError(f"unknown {name} {value!r}; one of {_NAME_SETTINGS[name]}")
            elif name == "mask_padding":
                if len(value) != 4:
                    raise ValueError("mask_padding takes four values: top, right, bottom, left")
            elif name not in _NUMBER_SETTINGS:
                raise TypeError(f"unknown setting {name!r}")

    def _apply_numbers(self, settings):
        for name in _NUMBER_SETTINGS:
            if name in settings:
                getattr(self._lib, "brightloom_set_" + name)(float(settings[name]))
        if "mask_padding" in settings:
            self._lib.brightloom_set_mask_padding(*(int(v) for v in settings["mask_padding"]))

    # ----------------------------------------------------------- lifecycle --

    def close(self):
        global _open_engine
        with _call_lock:
            if self._active_runner is not None:
                raise BrightloomError("a directory job is running; cancel it first")
            if _open_engine is self:
                self._lib.brightloom_shutdown()
                _open_engine = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ----------------------------------------------------------- one-shots --

    def swap(self, source, target, output):
        """Puts the best face of source in place of every face of target."""
        self._call(self._lib.face_swap, _path(source), _path(target), _path(output))

    def blend(self, source, target, output):
        """As swap, with a softer mask edge."""
        self._call(self._lib.face_blend, _path(source), _path(target), _path(output))

    def enhance(self, input, output):
        """Restores every face of input."""
        self._call(self._lib.face_enhance, _path(input), _path(output))

    def colorize(self, input, output, blend=100.0):
        """Colorizes input; blend is the colorized share in percent."""
        self._call(self._lib.frame_colorize, _path(input), _path(output), float(blend))

    def upscale(self, input, output, scale=2, blend=100.0):
        """Upscales input by 2 or 4; blend is the model's share in percent."""
        self._call(self._lib.frame_upscale, _path(input), _path(output), int(scale),
                   float(blend))

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
        lib = self._lib
        with _call_lock:
            self.video_swap_init(source, reference=reference,
                                 reference_position=reference_position,
                                 reference_distance=reference_distance)
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
        lib = self._lib
        with _call_lock:
            self._call(lib.face_swap_video_init, _path(source))
            try:
                if reference_distance is not None:
                    lib.face_swap_video_set_reference_distance(float(reference_distance))
                if reference is not None:
                    self._call(lib.face_swap_video_set_reference, _path(reference),
                               int(reference_position))
            except BaseException:
                lib.face_swap_video_cleanup()
                raise

    def video_swap_frame(self, input, output):
        """Swaps the face analysed by video_swap_init into one frame file."""
        self._call(self._lib.face_swap_video_frame, _path(input), _path(output))

    def video_swap_cleanup(self):
        """Releases the face analysed by video_swap_init."""
        with _call_lock:
            self._check_callable()
            self._lib.face_swap_video_cleanup()

    def process_frames(self, mode, input_dir, output_dir, *, scale=2, blend=100.0,
                       progress=None, poll_interval=0.1):
        """Applies "enhance", "colorize" or "upscale" to every frame image of
        input_dir; progress and result as swap_frames."""
        if mode not in FRAME_MODES:
            raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
        with _call_lock:
            self._check_callable()
            os.makedirs(output_dir, exist_ok=True)
            return self._run_job(_Runner(self._lib, "frame_process_video"), progress,
                                 poll_interval, self._lib.frame_process_video_dir,
                                 _path(input_dir), _path(output_dir), FRAME_MODES[mode],
                                 int(scale), float(blend))

    # ---------------------------------------------------------- video files --

    def swap_video(self, source, input, output, enhance=False, reference=None,
                   reference_frame=None, reference_position=0, reference_distance=None, crf=18,
                   preset="medium", codec=None, progress=None):
        """Swaps the best face of source into every frame of the video file
        input and writes the video file output (.mp4, .m4v, .mov, .mkv or
        .webm), keeping frame rate, timestamps, rotation and sound. With
        reference (an image) or reference_frame (a frame number of input),
        only faces resembling face number reference_position there are
        swapped. crf, preset and codec ("libx264", "libx265", "libvpx-vp9";
        VP9 for .webm) set the encoding. progress(done, total) is called after
        every frame (total is None when the input does not tell); returning
        False cancels. Returns True when complete, False when cancelled; a
        cancelled or failed run leaves no output."""
        if reference is not None and reference_frame is not None:
            raise ValueError("give reference or reference_frame, not both")
        lib = self._lib

        def swap_frame(in_path, out_path):
            if lib.face_swap_video_frame(_path(in_path), _path(out_path)) != 0:
                return False
            if enhance:
                lib.face_enhance(_path(out_path), _path(out_path))
            return True

        def prepare(job):
            self._call(lib.face_swap_video_init, _path(source))
            if reference_distance is not None:
                lib.face_swap_video_set_reference_distance(float(reference_distance))
            image = job.extract_frame(reference_frame) if reference_frame is not None else reference
            if image is not None:
                self._call(lib.face_swap_video_set_reference, _path(image),
                           int(reference_position))

        return self._run_video(input, output, _video.Options(output, crf, preset, codec),
                               prepare, swap_frame, lib.face_swap_video_cleanup, progress)

    def process_video(self, mode, input, output, scale=2, blend=100, crf=18, preset="medium",
                      codec=None, progress=None):
        """Applies "enhance", "colorize" or "upscale" (by scale, 2 or 4) to
        every frame of the video file input; blend is the share of the
        processed frame in percent (colorize, upscale). Encoding, progress and
        result as swap_video."""
        if mode not in FRAME_MODES:
            raise ValueError(f"unknown mode {mode!r}; one of {tuple(FRAME_MODES)}")
        if mode == "upscale" and int(scale) not in (2, 4):
            raise ValueError("scale is 2 or 4")
        lib = self._lib
        operations = {
            "enhance": lambda i, o: lib.face_enhance(i, o),
            "colorize": lambda i, o: lib.frame_colorize(i, o, float(blend)),
            "upscale": lambda i, o: lib.frame_upscale(i, o, int(scale), float(blend)),
        }
        operation = operations[mode]
        options = _video.Options(output, crf, preset, codec,
                                 scale=int(scale) if mode == "upscale" else 1)
        return self._run_video(input, output, options, None,
                               lambda i, o: operation(_path(i), _path(o)) == 0, None, progress)

    def _run_video(self, input, output, options, prepare, process_frame, cleanup, progress):
        with _call_lock:
            self._check_callable()
            try:
                job = _video.VideoJob(input, output, options)
            except _video.VideoError as error:
                raise BrightloomError(str(error)) from None
            try:
                with job, _video.TerminationAsInterrupt():
                    if prepare is not None:
                        prepare(job)
                    self._active_runner = job
                    return job.run(process_frame, progress)
            except _video.VideoError as error:
                raise BrightloomError(str(error)) from None
            finally:
                self._active_runner = None
                if cleanup is not None:
                    cleanup()

    def cancel(self):
        """Asks the running directory job to stop after its current frame.
        Safe from any thread; does nothing when no job runs."""
        runner = self._active_runner
        if runner is not None:
            runner.cancel()

    def _run_job(self, runner, progress, poll_interval, function, *args):
        # The job runs on a worker thread so that this thread stays free to
        # report progress and to turn Ctrl-C into a cancellation.
        outcome = {}

        def work():
            outcome["rc"] = function(*args)

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
        if rc == -1:
            raise BrightloomError(self._error_text())
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

    def _call(self, function, *args):
        with _call_lock:
            self._check_callable()
            if function(*args) != 0:
                raise BrightloomError(self._error_text())

    def _check_callable(self):
        if _open_engine is not self:
            raise BrightloomError("this Engine is closed")
        # The lock is re-entrant, so a progress callback could otherwise
        # reach the library while the job it reports on is still running.
        if self._active_runner is not None:
            raise BrightloomError("a directory job is running; only cancel() may be called")

    def _error_text(self):
        text = self._lib.brightloom_get_error()
        return text.decode("utf-8", "replace") if text else ""
