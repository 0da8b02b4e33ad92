import os
import re

import pytest

import brightloom
from conftest import ROOT

C_TYPES = {"int32_t": "c_int", "float": "c_float", "const char*": "c_char_p", "void": None}


def header_signatures():
    """name -> (result type, [argument types]) from the public header."""
    with open(os.path.join(ROOT, "include", "brightloom.h")) as f:
        text = re.sub(r"/\*.*?\*/", "", f.read(), flags=re.S)
    found = {}
    declarations = text.split("#ifdef __cplusplus", 1)[1]
    for result, name, args in re.findall(r"BRIGHTLOOM_API\s+([\w\s\*]+?)\s*(\w+)\s*\(([^)]*)\)",
                                         declarations):
        arg_types = []
        for arg in args.split(","):
            arg = " ".join(arg.split())
            if arg and arg != "void":
                arg_types.append(re.sub(r"\s*\w+$", "", arg).replace(" *", "*"))
        found[name] = (result.replace(" *", "*").strip(), arg_types)
    return found


def ctype_name(t):
    # c_int32 is an alias of c_int on every platform we build for.
    return None if t is None else t.__name__


def test_every_public_function_is_declared_with_the_header_types():
    header = header_signatures()
    assert len(header) == 32
    assert set(brightloom.SIGNATURES) == set(header)
    for name, (result, args) in header.items():
        restype, argtypes = brightloom.SIGNATURES[name]
        assert ctype_name(restype) == C_TYPES[result], name
        assert [ctype_name(t) for t in argtypes] == [C_TYPES[a] for a in args], name
    lib = brightloom.load()
    assert lib.face_swap.argtypes == brightloom.SIGNATURES["face_swap"][1]


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


def test_one_engine_at_a_time_and_closed_engine_refuses_calls(models_dir, tmp_path):
    slots = os.path.join(models_dir, "slots")
    first = brightloom.Engine(slots, swap=False)
    with pytest.raises(brightloom.BrightloomError, match="already open"):
        brightloom.Engine(slots, swap=False)
    first.close()
    first.close()
    with pytest.raises(brightloom.BrightloomError, match="closed"):
        first.enhance(tmp_path / "a.png", tmp_path / "b.png")
    brightloom.Engine(slots, swap=False).close()
