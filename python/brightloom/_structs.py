"""The header's structures, handles and callback type as ctypes sees them.
Field order and types follow include/brightloom.h exactly; tests/python/
test_binding.py compares the two."""
import ctypes

_i32 = ctypes.c_int32
_f32 = ctypes.c_float


class EngineHandle(ctypes.Structure):
    """brightloom_engine: opaque, only ever behind a pointer."""


class SwapSessionHandle(ctypes.Structure):
    """brightloom_swap_session: opaque, only ever behind a pointer."""


# brightloom_log_fn(user_data, level, line)
LogFunction = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)


class EngineParams(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("detector", ctypes.c_char_p),
        ("swapper", ctypes.c_char_p),
        ("enhancer", ctypes.c_char_p),
        ("open_swap", _i32),
        ("intra_threads", _i32),
        ("log", LogFunction),
        ("log_user_data", ctypes.c_void_p),
        ("run_memory_mib", _i32),
        ("warm_up", _i32),
        ("private_model_dir", _i32),
    ]


class Image(ctypes.Structure):
    _fields_ = [
        ("width", _i32),
        ("height", _i32),
        ("stride", _i32),
        ("pixels", ctypes.POINTER(ctypes.c_uint8)),
    ]


class Options(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("detector_score", _f32),
        ("mask_blur", _f32),
        ("mask_padding", _i32 * 4),
        ("soft_edge", _i32),
        ("enhancer_blend", _f32),
        ("enhance_after_swap", _i32),
        ("frame_blend", _f32),
        ("upscale_factor", _i32),
        ("target", _i32),
        ("target_position", _i32),
        ("reference_embedding", ctypes.POINTER(_f32)),
        ("reference_distance", _f32),
        ("reference_position", _i32),
        ("want_embedding", _i32),
        ("cancel", ctypes.POINTER(_i32)),
        ("max_faces", _i32),
        ("smoothing", _f32),
    ]


class Face(ctypes.Structure):
    _fields_ = [
        ("box", _f32 * 4),
        ("score", _f32),
        ("points5", _f32 * 10),
        ("has_points68", _i32),
        ("points68", _f32 * 136),
        ("has_embedding", _i32),
        ("embedding", _f32 * 512),
    ]


# brightloom_video_progress_fn(user_data, done, total)
VideoProgressFunction = ctypes.CFUNCTYPE(None, ctypes.c_void_p, _i32, _i32)


class VideoParams(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("crf", _i32),
        ("preset", ctypes.c_char_p),
        ("codec", ctypes.c_char_p),
        ("reference_frame", _i32),
        ("progress", VideoProgressFunction),
        ("progress_user_data", ctypes.c_void_p),
        ("cancel", ctypes.POINTER(_i32)),
        ("first_frame", _i32),
        ("frame_count", _i32),
    ]


class VideoCodecName(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char * 32)]


class VideoInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("frames", _i32),
        ("rate_num", _i32),
        ("rate_den", _i32),
        ("variable_rate", _i32),
        ("width", _i32),
        ("height", _i32),
        ("display_width", _i32),
        ("display_height", _i32),
        ("rotation", _i32),
        ("sound_streams", _i32),
        ("sound_codecs", VideoCodecName * 8),
    ]


class VideoRange(ctypes.Structure):
    _fields_ = [
        ("first_frame", _i32),
        ("frame_count", _i32),
    ]


class FramesParams(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("progress", VideoProgressFunction),
        ("progress_user_data", ctypes.c_void_p),
        ("cancel", ctypes.POINTER(_i32)),
        ("session", ctypes.POINTER(SwapSessionHandle)),
    ]


class VideoSummary(ctypes.Structure):
    _fields_ = [
        ("frames", _i32),
        ("failed_frames", _i32),
    ]


class ImageInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("width", _i32),
        ("height", _i32),
        ("format", _i32),
    ]


class ModelRow(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("slot", _i32),
        ("name", ctypes.c_char_p),
        ("family", ctypes.c_char_p),
        ("file", ctypes.c_char_p),
        ("is_default", _i32),
        ("upscale_factor", _i32),
    ]


class OptionRow(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("name", ctypes.c_char_p),
        ("kind", _i32),
        ("default_value", ctypes.c_double),
        ("minimum", ctypes.c_double),
        ("maximum", ctypes.c_double),
        ("minimum_excluded", _i32),
        ("choices", ctypes.POINTER(_i32)),
        ("choice_count", _i32),
    ]


# brightloom_frame_name_fn(user_data, name)
FrameNameFunction = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)


class EngineModel(ctypes.Structure):
    _fields_ = [
        ("row", _i32),
        ("state", _i32),
    ]


class EngineInfo(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("detector", EngineModel),
        ("landmarker", EngineModel),
        ("recognizer", EngineModel),
        ("swapper", EngineModel),
        ("enhancer", EngineModel),
        ("occluder", EngineModel),
        ("parser", EngineModel),
        ("colorizer", EngineModel),
        ("upscalers", EngineModel * 2),
    ]


# brightloom_model_slot
(MODEL_DETECTOR, MODEL_LANDMARKER, MODEL_RECOGNIZER, MODEL_SWAPPER, MODEL_ENHANCER,
 MODEL_OCCLUDER, MODEL_PARSER, MODEL_COLORIZER, MODEL_UPSCALER) = range(9)
# brightloom_video_operation
VIDEO_ENHANCE, VIDEO_COLORIZE, VIDEO_UPSCALE, VIDEO_SWAP = 0, 1, 2, 3
# brightloom_option_kind
OPTION_NUMBER, OPTION_INTEGER, OPTION_CHOICE = 0, 1, 2
# brightloom_target
TARGET_ALL, TARGET_POSITION, TARGET_REFERENCE = 0, 1, 2
# brightloom_format
FORMAT_PNG, FORMAT_JPEG, FORMAT_BMP, FORMAT_WEBP, FORMAT_GIF, FORMAT_TGA, FORMAT_PNM = range(7)
