"""Per-call keywords as a brightloom_options struct."""
import ctypes
from typing import Any, Dict, Mapping

import numpy as np

from ._structs import TARGET_ALL, TARGET_POSITION, TARGET_REFERENCE, Options

EMBEDDING_SIZE = 512

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
    "smoothing": ("smoothing", float),
}
# What every operation takes; the rest belong to one operation each.
COMMON = ("detector_score", "mask_blur", "mask_padding", "enhancer_blend", "soft_edge")


def build(lib, allowed, keywords: Mapping[str, Any]) -> Options:
    """brightloom_default_options() with `keywords` applied; names outside
    `allowed` raise TypeError, values that cannot be options ValueError."""
    options = lib.brightloom_default_options()
    for name, value in keywords.items():
        if name not in allowed:
            raise TypeError(f"unknown option {name!r}; this call takes {', '.join(allowed)}")
        if name in _SIMPLE:
            field, convert = _SIMPLE[name]
            setattr(options, field, int(convert(value)) if convert is bool else convert(value))
        elif name == "mask_padding":
            options.mask_padding[:] = _padding(value)
        elif name == "target":
            _set_target(options, value)
    return options


def _padding(value) -> list:
    values = [int(v) for v in value]
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
        options.target_position = int(target)
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
