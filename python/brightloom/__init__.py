"""Python binding of libkalderon-brightloom-inference: swap, restore,
colorize and upscale faces in images held in memory or in files.

    import brightloom

    with brightloom.Engine("models/", mask_blur=0.4) as engine:
        result = engine.swap("source.jpg", frame_array, target=0)   # an H x W x 3 array
        faces = engine.detect(result, embedding=True)
        engine.swap("source.jpg", "target.jpg", "result.png")       # file to file
        engine.swap_frames("source.jpg", "frames/", "out/",
                           progress=lambda done, total: print(done, total))
"""
from ._native import SIGNATURES, load
from . import engine as _engine
from .engine import FRAME_MODES, Engine, LogLevel
from .errors import BadArgumentError, BrightloomError, Status, StatusError
from .faces import Face
from .session import SwapSession

__all__ = ["Engine", "BrightloomError", "StatusError", "BadArgumentError", "Status", "Face",
           "SwapSession", "LogLevel", "load", "SIGNATURES", "DEFAULTS", "DETECTORS", "SWAPPERS", "ENHANCERS",
           "FRAME_MODES"]
__version__ = "1.0.0"


def __getattr__(name):
    # DEFAULTS, DETECTORS, SWAPPERS, ENHANCERS: the library's, read when asked
    # for, so that importing the package does not load the library.
    return getattr(_engine, name)
