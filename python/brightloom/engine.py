"""The engine: a handle on a model directory whose operations take images in
memory (or files) with options per call, from any number of threads."""
import ctypes
import enum
import weakref
from typing import Any, Callable, Dict, List, Optional, overload

import numpy as np

from . import models as _models
from . import options as _options
from ._handles import Handle
from ._native import load
from ._structs import (MODEL_DETECTOR, MODEL_ENHANCER, MODEL_SWAPPER, EngineHandle, Image,
                       LogFunction, SwapSessionHandle)
from ._structs import Face as _FaceStruct
from .errors import BrightloomError
from .faces import Face, face_of
from .file_jobs import FRAME_MODES, FileJobs
from .images import (ImageInput, PathLike, Picture, check, encoded_path, is_path, save_image,
                     take_array)
from .session import SwapSession

__all__ = ["Engine", "LogLevel", "DEFAULTS", "DETECTORS", "SWAPPERS", "ENHANCERS", "FRAME_MODES"]

# DETECTORS, SWAPPERS, ENHANCERS (the names each setting accepts, default
# first) and DEFAULTS (every Engine's settings unless told otherwise) are the
# library's, read from it when first asked for.
_LIBRARY_CONSTANTS = {"DETECTORS": lambda: _models.model_names(MODEL_DETECTOR),
                      "SWAPPERS": lambda: _models.model_names(MODEL_SWAPPER),
                      "ENHANCERS": lambda: _models.model_names(MODEL_ENHANCER),
                      "DEFAULTS": _models.defaults}


def __getattr__(name: str) -> Any:
    if name in _LIBRARY_CONSTANTS:
        return _LIBRARY_CONSTANTS[name]()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


_SWAP_OPTIONS = _options.COMMON + ("enhance", "target", "reference_distance")
_FACES_FIRST_TRY = 16


class LogLevel(enum.IntEnum):
    INFO = 0
    WARNING = 1
    ERROR = 2


class Engine(FileJobs):
    """An engine opened on a model directory.

    Params: detector, swapper, enhancer (model names), swap=False to skip the
    recognizer and swapper, threads (worker threads of one model run; 0: the
    process's cores), log(level, line) to receive the engine's log lines
    (default: standard error), run_memory_mib (the models' run memory kept
    between calls; 0: automatic) and warm_up=True to run every model once at
    open so that the first call is not the slowest. Settings detector_score, mask_blur,
    enhancer_blend and mask_padding (top, right, bottom, left percentages)
    are the defaults of every call's options; configure() changes them.

    swap, enhance, colorize, upscale and detect take images as paths, encoded
    bytes, numpy arrays or PIL images and return H x W x 3 uint8 arrays; they
    may run on one Engine from several threads at once. Failures raise
    StatusError (a BrightloomError) with status and message. The Engine is
    closed by close(), by leaving a `with` block, or when collected. Every
    method, the file, directory and video ones included, runs on this
    Engine's own handle, so several Engines may be open at once."""

    def __init__(self, model_dir: PathLike, *, swap: bool = True, threads: int = 0,
                 log: Optional[Callable[[LogLevel, str], Any]] = None, library=None,
                 run_memory_mib: int = 0, warm_up: bool = False, **settings: Any):
        settings = self._check_settings(settings, initializing=True)
        model_dir = encoded_path(model_dir, "model_dir")
        threads = _options.int32("threads", threads)
        if threads < 0:
            raise ValueError("threads is 0 (the process's cores) or more")
        # The engine refuses a negative budget too; checked here to name the
        # keyword.
        run_memory = _options.int32("run_memory_mib", run_memory_mib)
        if run_memory < 0:
            raise ValueError("run_memory_mib is 0 (automatic) or more")
        tuning = (run_memory, bool(warm_up))
        settings = {**_models.defaults(), **settings}
        self._lib = lib = load(library)
        self._defaults = _options.defaults_of(settings)
        self._sessions = weakref.WeakSet()
        self._swap = bool(swap)
        self._handle = self._open(lib, model_dir, swap, threads, log, settings, tuning)
        weakref.finalize(self, _close_all, self._sessions, self._handle)

    @staticmethod
    def _open(lib, model_dir, swap, threads, log, settings, tuning) -> Handle:
        params = lib.brightloom_engine_default_params()
        params.detector, params.swapper, params.enhancer = (
            settings[name].encode() for name in ("detector", "swapper", "enhancer"))
        params.open_swap = 1 if swap else 0
        params.intra_threads = threads
        params.run_memory_mib, params.warm_up = tuning[0], 1 if tuning[1] else 0
        log_function = _log_function(log)
        if log_function is not None:
            params.log = log_function
        pointer = ctypes.POINTER(EngineHandle)()
        check(lib, lib.brightloom_engine_open(model_dir, ctypes.byref(params),
                                              ctypes.byref(pointer)))

        def close(engine, keep_alive=log_function):
            lib.brightloom_engine_close(engine)
        return Handle(pointer, close, "Engine")

    # ------------------------------------------------------------ settings --

    def configure(self, **settings: Any) -> None:
        """Changes numeric settings; they apply from the next call on."""
        settings = self._check_settings(settings, initializing=False)
        self._defaults = {**self._defaults, **_options.defaults_of(settings)}

    @staticmethod
    def _check_settings(settings: Dict[str, Any], initializing: bool) -> Dict[str, Any]:
        """The settings with their numbers checked (and converted) against
        the library's ranges."""
        checked = {}
        for name, value in settings.items():
            if name in _models.NAME_SLOTS:
                if not initializing:
                    raise ValueError(f"{name} is read at initialization: pass it to Engine()")
                names = _models.model_names(_models.NAME_SLOTS[name])
                if value not in names:
                    raise ValueError(f"unknown {name} {value!r}; one of {names}")
            elif name in _options.SETTINGS:
                value = _options.checked_setting(name, value)
            else:
                raise TypeError(f"unknown setting {name!r}")
            checked[name] = value
        return checked

    # ----------------------------------------------------------- lifecycle --

    def close(self) -> None:
        """Closes the swap sessions, waits for running calls, then closes the
        engine. Refused while a directory or video job runs, and (with a
        RuntimeError) from inside one of the engine's own calls, such as its
        log callback, where waiting would never end."""
        if self._active_runner is not None:
            raise BrightloomError("a directory job is running; cancel it first")
        # Checked for every handle first, so that nothing is half closed.
        for handle in (self._handle, *self._sessions):
            handle.refuse_close_inside_a_call()
        _close_all(self._sessions, self._handle)

    def __enter__(self) -> "Engine":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    # ---------------------------------------------------------- operations --

    @overload
    def swap(self, source: ImageInput, target: ImageInput, /, *, output: None = None,
             **options: Any) -> np.ndarray: ...

    @overload
    def swap(self, source: ImageInput, target: ImageInput, output: PathLike, /) -> None: ...

    @overload
    def swap(self, source: ImageInput, target: ImageInput, /, *, output: PathLike,
             **options: Any) -> None: ...

    def swap(self, source, target, /, *args, output=None, **options):
        """The best face of source in place of the faces of target: every
        face (target="all"), the one at a position (target=0 is the best
        score), or those within reference_distance of a reference face
        (target=embedding or a Face from detect(embedding=True)). Options:
        mask_blur, mask_padding, soft_edge, detector_score, enhancer_blend,
        max_faces (only the best-scoring faces), enhance (restore the
        swapped faces too).

        swap(source, target, "out.png") is the file form: paths only, the
        Engine's settings."""
        file_output, options = _file_form(args, (), options)
        if file_output is not None:
            return self._swap_file(source, target, file_output)
        settings = self._options(_SWAP_OPTIONS, options)
        with Picture(self._lib, source) as first, Picture(self._lib, target) as second:
            return self._run(self._lib.brightloom_swap_image, (first, second), settings, output)

    @overload
    def enhance(self, image: ImageInput, *, output: None = None,
                **options: Any) -> np.ndarray: ...

    @overload
    def enhance(self, image: ImageInput, output: PathLike) -> None: ...

    @overload
    def enhance(self, image: ImageInput, *, output: PathLike, **options: Any) -> None: ...

    def enhance(self, image, *args, output=None, **options):
        """Every face of image restored (enhancer_blend: the restored share,
        0 ... 1). enhance(input, "out.png") is the file form."""
        file_output, options = _file_form(args, (), options)
        if file_output is not None:
            return self._enhance_file(image, file_output)
        return self._one_image(self._lib.brightloom_enhance_image, image, output,
                               self._options(_options.COMMON, options))

    @overload
    def colorize(self, image: ImageInput, blend: float = 100.0, *, output: None = None,
                 **options: Any) -> np.ndarray: ...

    @overload
    def colorize(self, image: ImageInput, output: PathLike, blend: float = 100.0) -> None: ...

    @overload
    def colorize(self, image: ImageInput, blend: float = 100.0, *, output: PathLike,
                 **options: Any) -> None: ...

    def colorize(self, image, *args, output=None, **options):
        """image colorized; blend is the colorized share in percent.
        colorize(input, "out.png", blend) is the file form."""
        file_output, options = _file_form(args, ("blend",), options)
        if file_output is not None:
            return self._colorize_file(image, file_output, **options)
        return self._one_image(self._lib.brightloom_colorize_image, image, output,
                               self._options(("blend",), options))

    @overload
    def upscale(self, image: ImageInput, scale: int = 2, blend: float = 100.0, *,
                output: None = None, **options: Any) -> np.ndarray: ...

    @overload
    def upscale(self, image: ImageInput, output: PathLike, scale: int = 2,
                blend: float = 100.0) -> None: ...

    @overload
    def upscale(self, image: ImageInput, scale: int = 2, blend: float = 100.0, *,
                output: PathLike, **options: Any) -> None: ...

    def upscale(self, image, *args, output=None, **options):
        """image enlarged scale (2 or 4) times; blend is the model's share in
        percent. upscale(input, "out.png", scale, blend) is the file form."""
        file_output, options = _file_form(args, ("scale", "blend"), options)
        if file_output is not None:
            return self._upscale_file(image, file_output, **options)
        return self._one_image(self._lib.brightloom_upscale_image, image, output,
                               self._options(("scale", "blend"), options))

    def detect(self, image: ImageInput, embedding: bool = False, **options: Any) -> List[Face]:
        """Every face of image, best score first; with embedding=True each
        carries its identity embedding (an engine opened with swap). Options:
        detector_score, max_faces."""
        settings = self._options(("detector_score", "embedding", "max_faces"),
                                 {**options, "embedding": embedding})
        records = (_FaceStruct * _FACES_FIRST_TRY)()
        count = ctypes.c_size_t()
        with Picture(self._lib, image) as picture:
            while True:
                with self._handle.use() as engine:
                    check(self._lib, self._lib.brightloom_detect_faces(
                        engine, picture.ref, ctypes.byref(settings), records, len(records),
                        ctypes.byref(count)))
                if count.value <= len(records):
                    break
                records = (_FaceStruct * count.value)()
        return [face_of(records[i]) for i in range(count.value)]

    def swap_session(self, source: ImageInput, reference: Optional[ImageInput] = None,
                     reference_position: int = 0, reference_distance: Optional[float] = None,
                     **options: Any) -> SwapSession:
        """The best face of source analysed once, for session.swap(frame) on
        many frames. With reference, only faces within reference_distance
        (None: the library's default) of its face at reference_position
        are swapped."""
        keywords = {**options, "reference_position": reference_position}
        if reference_distance is not None:
            keywords["reference_distance"] = reference_distance
        settings = self._options(("detector_score", "reference_position", "reference_distance",
                                  "max_faces"), keywords)
        pointer = ctypes.POINTER(SwapSessionHandle)()
        with Picture(self._lib, source) as face, _optional_picture(self._lib, reference) as ref:
            with self._handle.use() as engine:
                check(self._lib, self._lib.brightloom_swap_session_open(
                    engine, face.ref, ref.ref if ref is not None else None,
                    ctypes.byref(settings), ctypes.byref(pointer)))
        session = SwapSession(self, self._lib, pointer, self._defaults)
        self._sessions.add(session._handle)
        return session

    # ------------------------------------------------------------- helpers --

    def _options(self, allowed, keywords):
        # The Engine's settings apply to the calls that read them.
        defaults = {k: v for k, v in self._defaults.items() if k in allowed}
        return _options.build(self._lib, allowed, {**defaults, **keywords})

    def _one_image(self, function, image, output, settings):
        with Picture(self._lib, image) as picture:
            return self._run(function, (picture,), settings, output)

    def _run(self, function, pictures, settings, output):
        """function(engine, images..., options, &result); the result as an
        array, or written to output."""
        result = Image()
        with self._handle.use() as engine:
            check(self._lib, function(engine, *(p.ref for p in pictures),
                                      ctypes.byref(settings), ctypes.byref(result)))
        if output is None:
            return take_array(self._lib, result)
        save_image(self._lib, result, output)
        return None


def _file_form(args, names, keywords):
    """Splits the positional arguments after an operation's image(s): a path
    first means the file form (the output file, then `names`); otherwise they
    are `names` themselves. Returns (file output or None, keywords)."""
    file_output = None
    if args and is_path(args[0]):
        file_output, args = args[0], args[1:]
    if len(args) > len(names):
        raise TypeError(f"too many positional arguments ({len(args)} after the image)")
    keywords = dict(keywords)
    for name, value in zip(names, args):
        if name in keywords:
            raise TypeError(f"{name} given twice")
        keywords[name] = value
    if file_output is not None and set(keywords) - set(names):
        raise TypeError("the file form takes the Engine's settings; pass output= to give "
                        "options per call")
    return file_output, keywords


class _NoPicture:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        pass


def _optional_picture(lib, value):
    return _NoPicture() if value is None else Picture(lib, value)


def _log_function(log):
    if log is None:
        return None

    def forward(user_data, level, line):
        log(LogLevel(level), line.decode("utf-8", "replace"))
    return LogFunction(forward)


def _close_all(sessions, handle):
    for session in list(sessions):
        session.close()
    handle.close()
