import ctypes
import gc
import os
import re

import pytest

import brightloom
from brightloom import _structs
from conftest import ROOT

SCALARS = {"int32_t": ctypes.c_int32, "uint32_t": ctypes.c_uint32, "float": ctypes.c_float,
           "size_t": ctypes.c_size_t, "uint8_t": ctypes.c_uint8, "void": None,
           "double": ctypes.c_double, "char": ctypes.c_char}
NAMED = {"brightloom_engine": _structs.EngineHandle,
         "brightloom_swap_session": _structs.SwapSessionHandle,
         "brightloom_engine_params": _structs.EngineParams, "brightloom_image": _structs.Image,
         "brightloom_options": _structs.Options, "brightloom_face": _structs.Face,
         "brightloom_log_fn": _structs.LogFunction,
         "brightloom_video_params": _structs.VideoParams,
         "brightloom_video_summary": _structs.VideoSummary,
         "brightloom_video_progress_fn": _structs.VideoProgressFunction,
         "brightloom_image_info": _structs.ImageInfo, "brightloom_model_row": _structs.ModelRow,
         "brightloom_engine_model": _structs.EngineModel,
         "brightloom_engine_info": _structs.EngineInfo,
         "brightloom_frames_params": _structs.FramesParams,
         "brightloom_option_row": _structs.OptionRow,
         "brightloom_frame_name_fn": _structs.FrameNameFunction,
         "brightloom_video_info": _structs.VideoInfo,
         "brightloom_video_codec_name": _structs.VideoCodecName,
         "brightloom_video_range": _structs.VideoRange}
CALLBACKS = ("brightloom_log_fn", "brightloom_video_progress_fn", "brightloom_frame_name_fn")


class Header:
    """The public header's declarations, comments removed."""

    def __init__(self):
        with open(os.path.join(ROOT, "include", "brightloom.h")) as f:
            self.text = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
        self.enums = {name: dict((k, int(v)) for k, v in re.findall(r"(\w+)\s*=\s*(\d+)", body))
                      for name, body in re.findall(r"typedef enum (\w+) \{(.*?)\}", self.text,
                                                   flags=re.S)}

    def ctype(self, declared):
        """The ctypes type of a C type such as "const brightloom_image*"."""
        declared = " ".join(declared.replace("const ", "").replace("volatile ", "").split())
        declared = declared.replace(" *", "*")
        base, stars = declared.rstrip("*"), declared.count("*")
        if stars == 1 and base in ("char", "void"):
            return ctypes.c_char_p if base == "char" else ctypes.c_void_p
        kind = ctypes.c_int if base in self.enums else NAMED.get(base, SCALARS.get(base, base))
        assert not isinstance(kind, str), f"no ctypes mapping for {declared!r}"
        for _ in range(stars):
            kind = ctypes.POINTER(kind)
        return kind

    def functions(self):
        """name -> (result type, [argument types]) as ctypes types."""
        found = {}
        declarations = self.text.split("#ifdef __cplusplus", 1)[1]
        for result, name, args in re.findall(
                r"BRIGHTLOOM_API\s+([\w\s\*]+?)\s*(\w+)\s*\(([^)]*)\)", declarations):
            arg_types = [self.ctype(re.sub(r"\s*\w+$", "", arg.strip()))
                         for arg in args.split(",") if arg.strip() not in ("", "void")]
            found[name] = (self.ctype(result), arg_types)
        return found

    def structs(self):
        """name -> [(field, ctypes type)]."""
        found = {}
        for name, body in re.findall(r"typedef struct (\w+) \{(.*?)\} \w+;", self.text, flags=re.S):
            fields = []
            for field in filter(None, (f.strip() for f in body.split(";"))):
                declared, field_name, count = re.match(r"(.+?)\s*(\w+)(?:\[(\d+)\])?$",
                                                       field).groups()
                kind = self.ctype(declared)
                fields.append((field_name, kind * int(count) if count else kind))
            found[name] = fields
        return found

    def callback(self, name):
        result, args = re.search(r"typedef (\w+) \(\*" + name + r"\)\(([^)]*)\)",
                                 self.text).groups()
        return self.ctype(result), [self.ctype(re.sub(r"\s*\w+$", "", a.strip()))
                                    for a in args.split(",")]


@pytest.fixture(scope="module")
def header():
    return Header()


def test_every_public_function_is_declared_with_the_header_types(header):
    declared = header.functions()
    assert len(declared) > 32
    assert set(brightloom.SIGNATURES) == set(declared)
    for name, (result, args) in declared.items():
        restype, argtypes = brightloom.SIGNATURES[name]
        assert restype is result, name
        assert argtypes == args, name
    lib = brightloom.load()
    assert lib.face_swap.argtypes == brightloom.SIGNATURES["face_swap"][1]
    assert lib.brightloom_swap_image.argtypes == brightloom.SIGNATURES["brightloom_swap_image"][1]


def test_structures_and_callback_match_the_header_field_by_field(header):
    for name, fields in header.structs().items():
        assert NAMED[name]._fields_ == fields, name
    for name in CALLBACKS:
        restype, argtypes = header.callback(name)
        assert NAMED[name]._restype_ is restype, name
        assert list(NAMED[name]._argtypes_) == argtypes, name


def test_status_numbers_match_the_header(header):
    codes = header.enums["brightloom_status"]
    assert {f"BRIGHTLOOM_{s.name}": s.value for s in brightloom.Status} == codes
    lib = brightloom.load()
    assert lib.brightloom_status_name(brightloom.Status.NO_FACE) == b"no face"


def test_failure_raises_with_the_library_message(tmp_path):
    with pytest.raises(brightloom.BrightloomError) as caught:
        brightloom.Engine(str(tmp_path))
    assert caught.value.message.startswith(f"No face detector model found in {tmp_path}")
    assert str(caught.value) == caught.value.message


def test_settings_are_checked_before_the_library_sees_them(models_dir):
    slots = os.path.join(models_dir, "slots")
    with pytest.raises(TypeError, match="mask_blurr"):
        brightloom.Engine(slots, mask_blurr=0.2)
    with pytest.raises(ValueError, match="detector"):
        brightloom.Engine(slots, detector="nope")
    with pytest.raises(ValueError, match="four values"):
        brightloom.Engine(slots, mask_padding=(1, 2))
    with brightloom.Engine(slots, swap=False, detector="yunet", mask_blur=0.5,
                           mask_padding=(1, 2, 3, 4), enhancer_blend=0.6,
                           detector_score=0.5) as engine:
        engine.configure(mask_blur=0.1, detector_score=0.4)
        with pytest.raises(ValueError, match="initialization"):
            engine.configure(swapper="simswap_256")


def test_run_memory_and_warm_up_reach_the_engine(demo_dir, faces):
    with pytest.raises(ValueError, match="run_memory_mib"):
        brightloom.Engine(demo_dir, run_memory_mib=-1)
    with brightloom.Engine(demo_dir) as engine:
        plain = engine.enhance(faces["group"])
    with brightloom.Engine(demo_dir, run_memory_mib=16, warm_up=True) as engine:
        assert (engine.enhance(faces["group"]) == plain).all()


def test_engines_open_together_and_closed_engine_refuses_calls(models_dir, tmp_path):
    slots = os.path.join(models_dir, "slots")
    first = brightloom.Engine(slots, swap=False)
    brightloom.Engine(slots, swap=False).close()
    first.close()
    first.close()
    with pytest.raises(brightloom.BrightloomError, match="closed"):
        first.enhance(tmp_path / "a.png", tmp_path / "b.png")
    brightloom.Engine(slots, swap=False).close()


def test_closing_closes_sessions_and_a_collected_engine_frees_the_process(demo_dir, faces):
    engine = brightloom.Engine(demo_dir)
    session = engine.swap_session(faces["source"])
    engine.close()
    for call in (lambda: session.swap(faces["group"]), lambda: engine.detect(faces["group"])):
        with pytest.raises(brightloom.BrightloomError, match="closed"):
            call()
    forgotten = brightloom.Engine(demo_dir)
    forgotten.swap_session(faces["source"])
    del forgotten
    gc.collect()
    brightloom.Engine(demo_dir).close()
