"""Per-call keywords as a brightloom_options struct, and the checks of what
the library cannot see once ctypes has converted a value."""
import ctypes
import math
from typing import Any, Dict, Mapping

import numpy as np

from . import models as _models
from ._structs import TARGET_ALL, TARGET_POSITION, TARGET_REFERENCE, Options

EMBEDDING_SIZE = 512
_INT32 = (-2**31, 2**31 - 1)

# keyword: (struct field, conversion)
_SIMPLE = {
    "detector_score": ("detector_score", float),
    "mask_blur": ("mask_blur", float),
    "enhancer_blend": ("enhancer_blend", float),
    "soft_edge": ("soft_edge", bool),
    "enhance": ("enhance_after_swap", bool),
    "blend": ("frame_blend", float),
    "scale": ("upscale_factor", int),
    "reference_distance": ("reference_distance", float),
    "reference_position": ("reference_position", int),
    "embedding": ("want_embedding", bool),
    "max_faces": ("max_faces", int),
    "smoothing": ("smoothing", float),
}
# What every operation takes; the rest belong to one operation each.
COMMON = ("detector_score", "mask_blur", "mask_padding", "enhancer_blend", "soft_edge",
          "max_faces")
# The Engine's settings and the file forms' numbers are checked as they are
# given, naming the keyword, against the library's option table: keyword ->
# its brightloom_options field.
CHECKED_FIELDS = {"detector_score": "detector_score", "mask_blur": "mask_blur",
                  "enhancer_blend": "enhancer_blend", "blend": "frame_blend",
                  "mask_padding": "mask_padding"}
# The Engine's numeric settings: the per-call defaults it keeps.
SETTINGS = ("detector_score", "mask_blur", "enhancer_blend", "mask_padding")


def int32(name: str, value: Any) -> int:
    """value as a C int32_t, refused rather than wrapped by ctypes."""
    number = int(value)
    if not _INT32[0] <= number <= _INT32[1]:
        raise ValueError(f"{name} {number} does not fit a 32-bit integer")
    return number


def in_range(name: str, value: Any, low: float, high: float) -> float:
    number = float(value)
    if not (math.isfinite(number) and low <= number <= high):
        raise ValueError(f"{name} {number!r} is outside {low:g} ... {high:g}")
    return number


def checked_setting(name: str, value: Any):
    """An Engine setting or file-form number, checked against the library's
    range for it."""
    low, high = _models.option_range(CHECKED_FIELDS[name])
    if name == "mask_padding":
        values = _padding(value)
        for side, number in zip(("top", "right", "bottom", "left"), values):
            if not low <= number <= high:
                raise ValueError(f"mask_padding {side} {number} is outside {low} ... {high}")
        return tuple(values)
    return in_range(name, value, low, high)


def build(lib, allowed, keywords: Mapping[str, Any]) -> Options:
    """brightloom_default_options() with `keywords` applied; names outside
    `allowed` raise TypeError, values that cannot be options ValueError."""
    options = lib.brightloom_default_options()
    for name, value in keywords.items():
        if name not in allowed:
            raise TypeError(f"unknown option {name!r}; this call takes {', '.join(allowed)}")
        if name in _SIMPLE:
            field, convert = _SIMPLE[name]
            if convert is bool:
                value = int(bool(value))
            elif convert is int:
                value = int32(name, value)
            else:
                value = convert(value)
            setattr(options, field, value)
        elif name == "mask_padding":
            options.mask_padding[:] = _padding(value)
        elif name == "target":
            _set_target(options, value)
    return options


def _padding(value) -> list:
    # A string is a sequence too: "1234" would be taken as 1, 2, 3, 4.
    if isinstance(value, (str, bytes)):
        raise ValueError("mask_padding takes four numbers (top, right, bottom, left), "
                         f"not the string {value!r}")
    values = [int32("mask_padding", v) for v in value]
    if len(values) != 4:
        raise ValueError("mask_padding takes four values: top, right, bottom, left")
    return values


def _set_target(options: Options, target: Any) -> None:
    """target: "all", the position of a face (an int), or a reference face as
    a 512-value embedding (or a Face record carrying one)."""
    if isinstance(target, str):
        if target != "all":
            raise ValueError(f"target is \"all\", a face position or an embedding, not {target!r}")
        options.target = TARGET_ALL
    elif isinstance(target, (int, np.integer)) and not isinstance(target, bool):
        options.target = TARGET_POSITION
        options.target_position = int32("target", target)
    else:
        embedding = getattr(target, "embedding", target)
        if embedding is None:
            raise ValueError("the target face has no embedding: detect it with embedding=True")
        reference = np.ascontiguousarray(embedding, dtype=np.float32)
        if reference.shape != (EMBEDDING_SIZE,):
            raise ValueError(f"a reference embedding holds {EMBEDDING_SIZE} values, "
                             f"not {reference.size}")
        options.target = TARGET_REFERENCE
        options.reference_embedding = reference.ctypes.data_as(ctypes.POINTER(ctypes.c_float))
        # The struct holds a bare pointer: the array must outlive the call.
        options._reference = reference


def defaults_of(settings: Dict[str, Any]) -> Dict[str, Any]:
    """The engine-wide settings that are per-call options as keywords."""
    return {name: settings[name] for name in COMMON if name in settings}
