"""Loading the shared library and declaring the C signatures of its
functions, so that ctypes converts every argument and result exactly."""
import ctypes
import os
import threading

from ._structs import (EngineHandle, EngineInfo, EngineParams, Face, FrameNameFunction,
                       FramesParams, Image, ImageInfo, ModelRow, OptionRow, Options,
                       SwapSessionHandle, VideoInfo, VideoParams, VideoRange, VideoSummary)

LIBRARY_FILE = "libkalderon-brightloom-inference.so.1"

_i32 = ctypes.c_int32
_f32 = ctypes.c_float
_str = ctypes.c_char_p
_size = ctypes.c_size_t
_enum = ctypes.c_int  # brightloom_status and brightloom_format
_P = ctypes.POINTER
_engine = _P(EngineHandle)
_session = _P(SwapSessionHandle)
_image = _P(Image)
_options = _P(Options)

# name: (result type, argument types), in the header's order.
SIGNATURES = {
    "brightloom_init": (_i32, [_str]),
    "brightloom_init_lite": (_i32, [_str, _i32]),
    "brightloom_shutdown": (None, []),
    "brightloom_get_error": (_str, []),
    "brightloom_set_detector": (None, [_str]),
    "brightloom_set_swapper": (None, [_str]),
    "brightloom_set_enhancer": (None, [_str]),
    "brightloom_set_detector_score": (None, [_f32]),
    "brightloom_set_enhancer_blend": (None, [_f32]),
    "brightloom_set_mask_blur": (None, [_f32]),
    "brightloom_set_mask_padding": (None, [_i32, _i32, _i32, _i32]),
    "face_swap": (_i32, [_str, _str, _str]),
    "face_blend": (_i32, [_str, _str, _str]),
    "face_enhance": (_i32, [_str, _str]),
    "frame_colorize": (_i32, [_str, _str, _f32]),
    "frame_upscale": (_i32, [_str, _str, _i32, _f32]),
    "face_start_server": (_i32, [_i32]),
    "face_stop_server": (None, []),
    "face_swap_video_init": (_i32, [_str]),
    "face_swap_video_frame": (_i32, [_str, _str]),
    "face_swap_video_set_reference": (_i32, [_str, _i32]),
    "face_swap_video_set_reference_distance": (None, [_f32]),
    "face_swap_video_clear_reference": (None, []),
    "face_swap_video_cleanup": (None, []),
    "face_swap_video_dir": (_i32, [_str, _str, _i32]),
    "face_swap_video_progress": (_i32, []),
    "face_swap_video_total": (_i32, []),
    "face_swap_video_cancel": (None, []),
    "frame_process_video_dir": (_i32, [_str, _str, _i32, _i32, _f32]),
    "frame_process_video_progress": (_i32, []),
    "frame_process_video_total": (_i32, []),
    "frame_process_video_cancel": (None, []),
    # The engine handle.
    "brightloom_status_name": (_str, [_enum]),
    "brightloom_last_error": (_str, []),
    "brightloom_engine_default_params": (EngineParams, []),
    "brightloom_engine_open": (_enum, [_str, _P(EngineParams), _P(_engine)]),
    "brightloom_engine_close": (None, [_engine]),
    "brightloom_model_count": (_size, []),
    "brightloom_model_describe": (_enum, [_size, _P(ModelRow)]),
    "brightloom_engine_describe": (_enum, [_engine, _P(EngineInfo)]),
    "brightloom_engine_model_dir": (_enum, [_engine, ctypes.c_char_p, _size, _P(_size)]),
    "brightloom_cpu_cores": (_i32, []),
    "brightloom_image_decode": (_enum, [ctypes.c_void_p, _size, _image]),
    "brightloom_image_load": (_enum, [_str, _image]),
    "brightloom_image_probe": (_enum, [ctypes.c_void_p, _size, _P(ImageInfo)]),
    "brightloom_image_probe_file": (_enum, [_str, _P(ImageInfo)]),
    "brightloom_image_encode": (_enum, [_image, _enum, _i32, _P(_P(ctypes.c_uint8)), _P(_size)]),
    "brightloom_image_save": (_enum, [_image, _str]),
    "brightloom_image_release": (None, [_image]),
    "brightloom_bytes_release": (None, [_P(ctypes.c_uint8)]),
    "brightloom_default_options": (Options, []),
    "brightloom_option_count": (_size, []),
    "brightloom_option_describe": (_enum, [_size, _P(OptionRow)]),
    "brightloom_swap_image": (_enum, [_engine, _image, _image, _options, _image]),
    "brightloom_enhance_image": (_enum, [_engine, _image, _options, _image]),
    "brightloom_colorize_image": (_enum, [_engine, _image, _options, _image]),
    "brightloom_upscale_image": (_enum, [_engine, _image, _options, _image]),
    "brightloom_detect_faces": (_enum, [_engine, _image, _options, _P(Face), _size, _P(_size)]),
    "brightloom_swap_session_open": (_enum, [_engine, _image, _image, _options, _P(_session)]),
    "brightloom_swap_session_frame": (_enum, [_session, _image, _options, _image]),
    "brightloom_swap_session_close": (None, [_session]),
    "brightloom_video_default_params": (VideoParams, []),
    "brightloom_video_check_file": (_enum, [_enum, _str, _str, _options, _P(VideoParams)]),
    "brightloom_video_swap_file": (_enum, [_engine, _image, _image, _str, _str, _options,
                                           _P(VideoParams), _P(VideoSummary)]),
    "brightloom_video_process_file": (_enum, [_engine, _enum, _str, _str, _options,
                                              _P(VideoParams), _P(VideoSummary)]),
    "brightloom_frames_default_params": (FramesParams, []),
    "brightloom_frames_dir_run": (_enum, [_engine, _enum, _str, _str, _options,
                                          _P(FramesParams)]),
    "brightloom_frames_dir_list": (_enum, [_str, FrameNameFunction, ctypes.c_void_p]),
    "brightloom_video_hard_stop": (None, []),
    "brightloom_video_probe": (_enum, [_str, _P(VideoInfo)]),
    "brightloom_video_segments": (_enum, [_str, ctypes.c_double, _P(VideoRange), _size,
                                          _P(_size)]),
    "brightloom_video_frame_extract": (_enum, [_str, _i32, _image]),
    "brightloom_video_join": (_enum, [_P(_P(ctypes.c_char)), _size, _str, _str, _P(VideoParams)]),
}

_lock = threading.Lock()
_library = None


def _candidates(explicit):
    if explicit:
        yield os.fspath(explicit)
        return
    from_env = os.environ.get("BRIGHTLOOM_LIBRARY")
    if from_env:
        yield from_env
        return
    here = os.path.dirname(os.path.abspath(__file__))
    # A wheel carries the library (and the runtime it loads from beside
    # itself) inside the package.
    yield os.path.join(here, "_lib", LIBRARY_FILE)
    # A checkout's own build, for working on the project itself.
    yield os.path.join(here, "..", "..", "build", "out", LIBRARY_FILE)
    # Installed: found by the system's loader (ldconfig, LD_LIBRARY_PATH).
    yield LIBRARY_FILE


def load(path=None):
    """The library as a ctypes.CDLL with every signature declared.

    Looked for at `path`, else at $BRIGHTLOOM_LIBRARY, else inside the
    package (a wheel), else in this checkout's build/out, else by the
    system's loader. Loaded once per process."""
    global _library
    with _lock:
        if _library is not None:
            return _library
        errors = []
        for candidate in _candidates(path):
            if os.sep in candidate and not os.path.exists(candidate):
                errors.append(f"{candidate}: not found")
                continue
            try:
                library = ctypes.CDLL(candidate)
            except OSError as error:
                errors.append(str(error))
                continue
            try:
                declare(library)
            except AttributeError as error:
                errors.append(f"{candidate}: an older library ({error})")
                continue
            _library = library
            return library
        raise OSError("cannot load the brightloom library; set BRIGHTLOOM_LIBRARY to its path ("
                      + "; ".join(errors) + ")")


def declare(library):
    for name, (restype, argtypes) in SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
