"""The library's model and option tables, read from the library the first
time they are asked for: the names each setting accepts, the defaults every
Engine starts from and the ranges its numbers are checked against are the
library's, never a list kept here."""
import ctypes
import functools
from typing import Any, Dict, Tuple

import numpy as np

from ._native import load
from ._structs import (MODEL_DETECTOR, MODEL_ENHANCER, MODEL_SWAPPER, OPTION_CHOICE,
                       OPTION_INTEGER, ModelRow, OptionRow)

# The settings naming a model, and the slot each chooses for.
NAME_SLOTS = {"detector": MODEL_DETECTOR, "swapper": MODEL_SWAPPER, "enhancer": MODEL_ENHANCER}


def _rows(lib):
    for index in range(lib.brightloom_model_count()):
        row = ModelRow()
        row.size = ctypes.sizeof(ModelRow)
        if lib.brightloom_model_describe(index, ctypes.byref(row)) == 0:
            yield row


@functools.lru_cache(maxsize=None)
def model_names(slot: int) -> Tuple[str, ...]:
    """The names a slot's setting accepts, its default first."""
    names = []
    for row in _rows(load()):
        if row.slot == slot:
            name = row.name.decode()
            names.insert(0, name) if row.is_default else names.append(name)
    return tuple(names)


def _as_given(value: float) -> float:
    # The library's float32 0.3 as the 0.3 a person would write.
    return float(str(np.float32(value)))


@functools.lru_cache(maxsize=None)
def _defaults() -> Tuple[Tuple[str, Any], ...]:
    options = load().brightloom_default_options()
    values = {name: model_names(slot)[0] for name, slot in NAME_SLOTS.items()}
    values.update(detector_score=_as_given(options.detector_score),
                  mask_blur=_as_given(options.mask_blur),
                  enhancer_blend=_as_given(options.enhancer_blend),
                  mask_padding=tuple(options.mask_padding))
    return tuple(values.items())


def defaults() -> Dict[str, Any]:
    """Every Engine's settings unless told otherwise."""
    return dict(_defaults())


def _option_row(field: str) -> OptionRow:
    """The option table's row of the brightloom_options field `field`."""
    lib = load()
    for index in range(lib.brightloom_option_count()):
        row = OptionRow()
        row.size = ctypes.sizeof(OptionRow)
        if lib.brightloom_option_describe(index, ctypes.byref(row)) == 0 \
                and row.name.decode() == field:
            return row
    raise KeyError(f"the library has no option {field!r}")


@functools.lru_cache(maxsize=None)
def option_range(field: str) -> Tuple[Any, Any]:
    """The smallest and largest value the library accepts for `field`
    (integers for integer fields)."""
    row = _option_row(field)
    if row.kind in (OPTION_INTEGER, OPTION_CHOICE):
        return int(row.minimum), int(row.maximum)
    return row.minimum, row.maximum


@functools.lru_cache(maxsize=None)
def option_choices(field: str) -> Tuple[int, ...]:
    """The values a choice field (upscale_factor) takes, smallest first."""
    row = _option_row(field)
    return tuple(row.choices[i] for i in range(row.choice_count))


def default_reference_distance() -> float:
    return _as_given(load().brightloom_default_options().reference_distance)
