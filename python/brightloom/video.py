"""Whole video files for the Engine, through the library's video-file job:
it runs ffmpeg, passes every frame through the engine in memory and writes
the output only when complete. Here: the job's parameters, progress and
cancellation as Python sees them, and its failures as exceptions."""
import ctypes
import signal

from ._structs import (VIDEO_SWAP, Image, VideoInfo, VideoParams, VideoProgressFunction,
                       VideoRange, VideoSummary)
from .errors import Status, StatusError
from .images import encoded_path
from .options import int32

CODECS = ("libx264", "libx265", "libvpx-vp9")
PRESETS = ("ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower",
           "veryslow")


def params(lib, crf=18, preset="medium", codec=None, reference_frame=None, frame_range=None):
    """A brightloom_video_params; values the job cannot take raise ValueError.
    frame_range: None, or (first frame, frame count) of the input, alone."""
    if codec is not None and codec not in CODECS:
        raise ValueError(f"unknown codec {codec!r}; one of {CODECS}")
    if preset not in PRESETS:
        raise ValueError(f"unknown preset {preset!r}; one of {PRESETS}")
    if not 0 <= int(crf) <= 51:
        raise ValueError("crf runs from 0 to 51")
    result = lib.brightloom_video_default_params()
    result.crf = int(crf)
    result.preset = preset.encode()
    result.codec = codec.encode() if codec is not None else None
    result.reference_frame = (-1 if reference_frame is None
                              else int32("reference_frame", reference_frame))
    if frame_range is not None:
        first, count = frame_range
        result.first_frame = int32("first frame", first)
        result.frame_count = int32("frame count", count)
    return result


class Job:
    """One call of the job: progress(done, total) after every frame (total
    None when the input does not tell), False from it or cancel() stops the
    job, and an exception from it (Ctrl-C included) stops the job and is
    raised again once the job has cleaned up."""

    def __init__(self, lib, video_params: VideoParams, progress):
        self._lib = lib
        self._user_progress = progress
        self._flag = ctypes.c_int32(0)
        self._raised = None
        self._callback = VideoProgressFunction(self._progress)
        self.params = video_params
        self.params.progress = self._callback
        self.params.cancel = ctypes.pointer(self._flag)
        self.summary = VideoSummary()

    def cancel(self):
        self._flag.value = 1

    def _progress(self, user_data, done, total):
        # Exceptions cannot cross the library; they are kept and raised
        # after it returns.
        try:
            if done == 0 or self._user_progress is None or self._flag.value:
                return
            if self._user_progress(done, total if total >= 0 else None) is False:
                self.cancel()
        except BaseException as error:  # noqa: B036 (Ctrl-C stops the job too)
            self._raised = error
            self.cancel()

    def finish(self, status):
        """True when complete, False when cancelled; raises otherwise."""
        if self._raised is not None:
            raise self._raised
        if status == Status.CANCELLED:
            return False
        checked(self._lib, status)
        return True


def checked(lib, status):
    """Raises the library's failure: ValueError for a bad argument, else
    StatusError."""
    if status != Status.OK:
        text = lib.brightloom_last_error()
        message = text.decode("utf-8", "replace") if text else ""
        if status == Status.BAD_ARGUMENT:
            raise ValueError(message)
        raise StatusError(Status(status), message)


def check_file(lib, operation, input, output, options, video_params):
    """The job's own refusals, before anything is opened or read."""
    Job(lib, video_params, None).finish(lib.brightloom_video_check_file(
        operation, encoded_path(input, "input"), encoded_path(output, "output"), ctypes.byref(options),
        ctypes.byref(video_params)))


def run(lib, job, operation, engine, input, output, options, source=None, reference=None):
    """Runs the job on `engine`; SIGTERM stops it as Ctrl-C does."""
    with TerminationAsInterrupt():
        if operation == VIDEO_SWAP:
            status = lib.brightloom_video_swap_file(
                engine, source, reference, encoded_path(input, "input"), encoded_path(output, "output"),
                ctypes.byref(options), ctypes.byref(job.params), ctypes.byref(job.summary))
        else:
            status = lib.brightloom_video_process_file(
                engine, operation, encoded_path(input, "input"), encoded_path(output, "output"),
                ctypes.byref(options), ctypes.byref(job.params), ctypes.byref(job.summary))
    return job.finish(status)


def probe(lib, path):
    """The brightloom_video_info of a video file."""
    info = VideoInfo(size=ctypes.sizeof(VideoInfo))
    checked(lib, lib.brightloom_video_probe(encoded_path(path, "input"), ctypes.byref(info)))
    return info


def segments(lib, path, seconds):
    """(first frame, frame count) of each key-frame range of at least
    `seconds` of path."""
    count = ctypes.c_size_t(0)
    checked(lib, lib.brightloom_video_segments(encoded_path(path, "input"), float(seconds), None,
                                               0, ctypes.byref(count)))
    ranges = (VideoRange * count.value)()
    checked(lib, lib.brightloom_video_segments(encoded_path(path, "input"), float(seconds),
                                               ranges, len(ranges), ctypes.byref(count)))
    return [(r.first_frame, r.frame_count) for r in ranges[:count.value]]


def save_frame(lib, path, number, image_path):
    """Frame `number` of the video file path, upright, saved as the image
    image_path."""
    image = Image()
    checked(lib, lib.brightloom_video_frame_extract(encoded_path(path, "input"),
                                                    int32("frame number", number),
                                                    ctypes.byref(image)))
    try:
        checked(lib, lib.brightloom_image_save(ctypes.byref(image),
                                               encoded_path(image_path, "image path")))
    finally:
        lib.brightloom_image_release(ctypes.byref(image))


def join(lib, segment_paths, sound_from, output, video_params):
    """Joins encoded segments into output without encoding again, with the
    sound of sound_from (None: none)."""
    names = (ctypes.c_char_p * len(segment_paths))(
        *(encoded_path(p, "segment") for p in segment_paths))
    checked(lib, lib.brightloom_video_join(
        ctypes.cast(names, ctypes.POINTER(ctypes.POINTER(ctypes.c_char))), len(segment_paths),
        None if sound_from is None else encoded_path(sound_from, "input"),
        encoded_path(output, "output"), ctypes.byref(video_params)))


class TerminationAsInterrupt:
    """While a job runs on the main thread, SIGTERM ends it as Ctrl-C does,
    so that its temporary files are removed as well."""

    def __enter__(self):
        self._previous = None
        try:
            self._previous = signal.signal(signal.SIGTERM, self._raise)
        except ValueError:  # not the main thread: SIGTERM stays as it is
            pass
        return self

    def __exit__(self, *exc):
        if self._previous is not None:
            signal.signal(signal.SIGTERM, self._previous)

    @staticmethod
    def _raise(signum, frame):
        raise KeyboardInterrupt
