"""Python binding of libkalderon-brightloom-inference: swap, restore,
colorize and upscale faces and frames in image files.

    import brightloom

    with brightloom.Engine("models/", mask_blur=0.4) as engine:
        engine.swap("source.jpg", "target.jpg", "result.png")
        engine.swap_frames("source.jpg", "frames/", "out/",
                           progress=lambda done, total: print(done, total))
"""
from ._native import SIGNATURES, load
from .engine import (DEFAULTS, DETECTORS, ENHANCERS, FRAME_MODES, SWAPPERS, BrightloomError, Engine)

__all__ = ["Engine", "BrightloomError", "load", "SIGNATURES", "DEFAULTS", "DETECTORS", "SWAPPERS",
           "ENHANCERS", "FRAME_MODES"]
__version__ = "1.0.0"
